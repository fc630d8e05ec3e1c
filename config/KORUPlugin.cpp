#include "config/KORUPlugin.h"

#include "platform/FilePath.h"

#include "platform/UiCalls.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

int32_t PluginInitParam = 0;

namespace {

// A registered module with what the host needs to keep it loaded while calls run in it.
struct LoadedModule {
    tpgData data;
    int calls = 0;          // query calls running in the module; guarded by PluginHost::mutex
    bool closed = false;    // starts no new call, answers to no name; guarded by PluginHost::mutex
    bool finalised = false; // KORUPGDone was called; UI thread only
    // Shut down without waiting: KORUPGDone with this reason, and the release, come when its last
    // running call has returned. 0 when no such shutdown is due. Guarded by PluginHost::mutex.
    int32_t shutdownReason = 0;
};

// The unit's module list. Only the UI thread adds or removes entries; workers look entries up
// and count their calls under `mutex`, and call into a module outside it, so that one slow
// module never holds up lookups. The entries themselves never move (unique_ptr), which lets a
// worker keep a pointer to its module for the length of the call.
struct PluginHost {
    std::mutex mutex;
    std::condition_variable callsEnded; // a module's call count fell to 0
    std::vector<std::unique_ptr<LoadedModule>> PluginList;
    // Runs on the UI thread once a shutdown without waiting has released its last module.
    // Guarded by mutex.
    std::function<void()> whenReleased;

    // The index of the first open module called `upperName`; `mutex` held.
    int findOpen(const std::string& upperName) const {
        for (size_t i = 0; i < PluginList.size(); ++i)
            if (!PluginList[i]->closed && PluginList[i]->data.Name == upperName)
                return static_cast<int>(i);
        return -1;
    }
};

// Never destroyed: a worker may still be inside a module call while the program ends, and must
// find the lock and the list intact when it returns.
PluginHost& Host() {
    union Immortal {
        Immortal() : host() {}
        ~Immortal() {}
        PluginHost host;
    };
    static Immortal state;
    return state.host;
}

// Keeps one module loaded for the length of one call; shutdown and release wait for every holder.
class HeldModule {
public:
    explicit HeldModule(std::string_view name) {
        const std::string upperName = UpperAZ(name);
        PluginHost& host = Host();
        const std::lock_guard lock(host.mutex);
        index_ = host.findOpen(upperName);
        if (index_ >= 0) {
            module_ = host.PluginList[index_].get();
            ++module_->calls;
        }
    }
    ~HeldModule() {
        if (module_ == nullptr)
            return;
        PluginHost& host = Host();
        bool finishShutdown = false;
        {
            const std::lock_guard lock(host.mutex);
            if (--module_->calls == 0) {
                host.callsEnded.notify_all();
                finishShutdown = module_->shutdownReason != 0;
            }
        }
        // The UI thread finishes the shutdown that waited for this call, without having waited.
        if (finishShutdown)
            platform::PostToUiThread([] { FinishIdleShutdowns(); });
    }
    HeldModule(const HeldModule&) = delete;
    HeldModule& operator=(const HeldModule&) = delete;

    int index() const { return index_; }
    bool found() const { return module_ != nullptr; }
    const tpgData& data() const { return module_->data; }

private:
    int index_ = -1;
    LoadedModule* module_ = nullptr;
};

// Runs one call into a module and turns whatever it throws into an EPluginError, whose text is
// copied before the module can be released.
template <class Call> void CallModule(const std::string& who, const char* exportName, Call&& call) {
    const auto fail = [&](const char* reason) {
        return EPluginError("Plugin \"" + who + "\" raised an error in " + exportName + ": " +
                            reason);
    };
    try {
        call();
    } catch (abi::__forced_unwind&) {
        throw; // a thread being cancelled must keep unwinding
    } catch (const std::exception& e) {
        throw fail(e.what());
    } catch (...) {
        throw fail("unknown error");
    }
}

// `query` is the request buffer the module gets: NUL-terminated, the caller's, freed by it also on
// error.
void BasicQuery(const tpgData& module, std::string& query, std::string& body) {
    tpgQuery record{query.data(), nullptr};
    const auto releaseReply = qScopeGuard([&record] { std::free(record.Reply); });
    CallModule(module.Name, "KORUPGQuery", [&] { module.Query(&record); });
    body = record.Reply != nullptr ? std::string(record.Reply) : std::string();
}

tpgInfo NewInfo(const QByteArray& path) {
    tpgInfo info{};
    std::memcpy(info.Name, "noname", 6);
    std::memcpy(info.Title, "untitled", 8);
    std::memcpy(info.Path, path.constData(), path.size());
    return info;
}

std::vector<LoadedModule*> CloseAll() {
    PluginHost& host = Host();
    const std::lock_guard lock(host.mutex);
    std::vector<LoadedModule*> modules;
    for (const auto& module : host.PluginList) {
        module->closed = true;
        modules.push_back(module.get());
    }
    return modules;
}

void WaitForCalls(const LoadedModule& module) {
    PluginHost& host = Host();
    std::unique_lock lock(host.mutex);
    host.callsEnded.wait(lock, [&module] { return module.calls == 0; });
}

void Finalise(LoadedModule& module, int32_t reason) {
    WaitForCalls(module);
    module.finalised = true; // also when KORUPGDone raises: it is called once
    if (module.data.Done != nullptr)
        CallModule(module.data.Name, "KORUPGDone", [&] { module.data.Done(reason); });
}

// Finalises every module in `modules` with `reason`, each in turn whatever the others raise, and
// throws the first error afterwards.
void FinaliseAll(const std::vector<LoadedModule*>& modules, int32_t reason) {
    std::optional<EPluginError> first;
    for (LoadedModule* module : modules) {
        if (module->finalised)
            continue;
        try {
            Finalise(*module, reason);
        } catch (const EPluginError& error) {
            if (!first)
                first = error;
        }
    }
    if (first)
        throw *first;
}

// At program end, modules that are still inside a call stay mapped: the process is going away,
// and unmapping them would pull the code from under the call.
struct UnitEnd {
    ~UnitEnd() {
        PluginHost& host = Host();
        const std::lock_guard lock(host.mutex);
        std::erase_if(host.PluginList, [](const auto& module) { return module->calls == 0; });
    }
} unitEnd;

} // namespace

std::string UpperAZ(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

ModuleLabel ReadModuleLabel(const tpgInfo& info) {
    return {UpperAZ(std::string_view(info.Name, strnlen(info.Name, sizeof info.Name))),
            std::string(info.Title, strnlen(info.Title, sizeof info.Title))};
}

int LoadPluginModule(const QString& path, std::string& name, std::string& title, QString* problem) {
    const auto fail = [problem](const QString& why) {
        if (problem != nullptr)
            *problem = why;
        return -1;
    };
    const QByteArray fsPath = QFile::encodeName(platform::ToFsPath(path));
    if (fsPath.size() > kMaxPluginPath)
        return fail(QStringLiteral("its path is longer than %1 bytes").arg(kMaxPluginPath));
    // The loader must never see a file that would bring the whole program down.
    if (const std::optional<QString> bad = platform::LibraryFileProblem(path))
        return fail(*bad);
    auto module = std::make_unique<LoadedModule>();
    tpgData& data = module->data;
    data.Handle = platform::DynLib(path);
    if (!data.Handle.IsOpen())
        return fail(QStringLiteral("does not load: ") + data.Handle.ErrorText());
    data.Init = data.Handle.Entry<KORUPGInitProc>("KORUPGInit");
    data.Query = data.Handle.Entry<KORUPGQueryProc>("KORUPGQuery");
    data.Query2 = data.Handle.Entry<KORUPGQuery2Proc>("KORUPGQuery2");
    data.Done = data.Handle.Entry<KORUPGDoneProc>("KORUPGDone");
    if (data.Init == nullptr)
        return fail(QStringLiteral("a library without KORUPGInit, not a module"));

    tpgInfo info = NewInfo(fsPath);
    CallModule(fsPath.toStdString(), "KORUPGInit", [&] { data.Init(PluginInitParam, &info); });
    if (info.InitResult <= 0)
        return -1;
    ModuleLabel label = ReadModuleLabel(info);
    data.Name = label.name;
    name = std::move(label.name);
    title = std::move(label.title);

    PluginHost& host = Host();
    const std::lock_guard lock(host.mutex);
    host.PluginList.push_back(std::move(module));
    return static_cast<int>(host.PluginList.size()) - 1;
}

int FindPlugin(std::string_view name) {
    const std::string upperName = UpperAZ(name);
    PluginHost& host = Host();
    const std::lock_guard lock(host.mutex);
    return host.findOpen(upperName);
}

int QueryPlugin(std::string_view name, std::string& query, std::string& body) {
    const HeldModule held(name);
    if (held.found() && held.data().Query != nullptr)
        BasicQuery(held.data(), query, body);
    return held.index();
}

int QueryPlugin(std::string_view name, const std::string& query, std::string& body) {
    std::string copy = query;
    return QueryPlugin(name, copy, body);
}

int RunPlugin(std::string_view name, const std::string& peer, const std::string& request,
              const std::string& query, std::string& body, std::string& header, int32_t& status) {
    std::string copy = query;
    return RunPlugin(name, peer, request, copy, body, header, status);
}

int RunPlugin(std::string_view name, const std::string& peer, const std::string& request,
              std::string& query, std::string& body, std::string& header, int32_t& status) {
    const HeldModule held(name);
    if (!held.found())
        return -1;
    const tpgData& module = held.data();
    if (module.Query2 != nullptr)
        CallModule(module.Name, "KORUPGQuery2",
                   [&] { module.Query2(peer, request, query, body, header, status); });
    else if (module.Query != nullptr)
        BasicQuery(module, query, body);
    return held.index();
}

int DonePlugin(std::string_view name, int32_t reason) {
    const std::string upperName = UpperAZ(name);
    LoadedModule* module = nullptr;
    int index = -1;
    {
        PluginHost& host = Host();
        const std::lock_guard lock(host.mutex);
        index = host.findOpen(upperName);
        if (index < 0 || host.PluginList[index]->data.Done == nullptr)
            return index;
        module = host.PluginList[index].get();
        module->closed = true;
    }
    Finalise(*module, reason);
    return index;
}

void ShutdownPlugins(int32_t reason) {
    PluginInitParam = -1;
    // Resolved by entry, not by name: modules that report the same name each get their own
    // KORUPGDone. One that raises keeps none of the others from theirs, nor from their release.
    const auto release = qScopeGuard([] { ReleasePluginModules(); });
    FinaliseAll(CloseAll(), reason);
}

bool ShutdownPluginsWhenIdle(int32_t reason, std::function<void()> whenReleased) {
    PluginInitParam = -1;
    {
        PluginHost& host = Host();
        const std::lock_guard lock(host.mutex);
        for (const auto& module : host.PluginList) {
            module->closed = true;
            if (!module->finalised && module->shutdownReason == 0)
                module->shutdownReason = reason;
        }
        host.whenReleased = std::move(whenReleased);
    }
    return FinishIdleShutdowns();
}

bool FinishIdleShutdowns() {
    PluginHost& host = Host();
    std::vector<LoadedModule*> idle;
    {
        const std::lock_guard lock(host.mutex);
        for (const auto& module : host.PluginList)
            if (module->shutdownReason != 0 && module->calls == 0)
                idle.push_back(module.get());
    }
    // Whatever a KORUPGDone raises, its module and the others are released all the same.
    const auto release = qScopeGuard([&] {
        std::vector<std::unique_ptr<LoadedModule>> released;
        std::function<void()> done;
        {
            const std::lock_guard lock(host.mutex);
            for (auto& module : host.PluginList)
                if (std::find(idle.begin(), idle.end(), module.get()) != idle.end())
                    released.push_back(std::move(module));
            std::erase(host.PluginList, nullptr);
            if (std::none_of(host.PluginList.begin(), host.PluginList.end(),
                             [](const auto& module) { return module->shutdownReason != 0; }))
                done.swap(host.whenReleased);
        }
        released.clear(); // in list order, outside the lock
        if (done)
            done();
    });
    for (LoadedModule* module : idle)
        if (!module->finalised)
            try {
                Finalise(*module, module->shutdownReason);
            } catch (const EPluginError& error) {
                qWarning("%s", error.what());
            }
    return ShutdownsPending() == false;
}

bool ShutdownsPending() {
    PluginHost& host = Host();
    const std::lock_guard lock(host.mutex);
    return std::any_of(host.PluginList.begin(), host.PluginList.end(),
                       [](const auto& module) { return module->shutdownReason != 0; });
}

void ReleasePluginModules() {
    const std::vector<LoadedModule*> closing = CloseAll();
    for (const LoadedModule* module : closing)
        WaitForCalls(*module);
    std::vector<std::unique_ptr<LoadedModule>> released;
    {
        PluginHost& host = Host();
        const std::lock_guard lock(host.mutex);
        released.swap(host.PluginList);
        host.whenReleased = nullptr;
    }
    for (auto& module : released)
        module.reset(); // in list order
}
