#pragma once

#include "platform/DynLib.h"
#include "platform/NoCopy.h"
#include "plugins/KORUPG.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The plug-in interface level shown in the About text.
inline constexpr int kPluginsLevel = 2;

// An error raised inside a module call, turned into the host's own exception at the boundary:
// the module's exception object may live in code that is unloaded before anyone catches it.
class EPluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using KORUPGInitProc = decltype(&KORUPGInit);
using KORUPGQueryProc = decltype(&KORUPGQuery);
using KORUPGQuery2Proc = decltype(&KORUPGQuery2);
using KORUPGDoneProc = decltype(&KORUPGDone);

// One registered module. Immutable once it is in PluginList, so workers read it without a lock
// while they hold the module for a call.
struct tpgData {
    platform::DynLib Handle;
    std::string Name; // as reported by KORUPGInit, a to z upper-cased
    KORUPGInitProc Init = nullptr;
    KORUPGQueryProc Query = nullptr;
    KORUPGQuery2Proc Query2 = nullptr;
    KORUPGDoneProc Done = nullptr;
};

// Handed to every KORUPGInit: 16384 while scanning, -1 from the start of a shutdown. UI thread
// only.
extern int32_t PluginInitParam;

// The longest module path that fits tpgInfo::Path with its NUL; longer paths are not loaded.
inline constexpr int kMaxPluginPath = 255;

// Upper-cases a to z and nothing else, so that names compare the same in every locale.
std::string UpperAZ(std::string_view text);

// What the host keeps of the record a module's KORUPGInit filled in: the name up to its first
// NUL (all 32 bytes when there is none), upper-cased a to z, and the title up to its first NUL
// (all 256 bytes when there is none). Nothing beyond either field is ever read.
struct ModuleLabel {
    std::string name;
    std::string title;
};
ModuleLabel ReadModuleLabel(const tpgInfo& info);

// Loading, shutting down and releasing run on the UI thread; the lookups and query calls run on
// any number of worker threads at once. The list of modules (PluginList) belongs to this unit.

// Loads the module file at `path`, calls its KORUPGInit and registers it when InitResult comes
// back above 0. Returns its index with its upper-cased name and its title; returns -1, leaving
// `name` and `title` unchanged, for a file that does not load, a path longer than kMaxPluginPath
// bytes, a missing KORUPGInit, or an InitResult of 0 or less (the library is released again).
// Throws EPluginError, with the library released, when KORUPGInit raises. A file that could bring
// the program down in the loader (not a library of this machine, cut short) is never loaded.
// When `problem` is given, it receives why a file other than a declining module was not loaded.
int LoadPluginModule(const QString& path, std::string& name, std::string& title,
                     QString* problem = nullptr);

// The index of the first module that answers to `name` (a to z in any case), or -1. Modules
// already shut down, or being shut down, answer to no name.
int FindPlugin(std::string_view name);

// The basic query call: hands `query` to the module's KORUPGQuery and sets `body` to its reply.
// Returns -1 when no module answers to `name`; the module's index otherwise, leaving `body`
// unchanged when the module lacks KORUPGQuery. Throws EPluginError when the module raises.
// The module gets the buffer of `query` itself, NUL-terminated, and may write into it: a large
// query (a POST's body) is not copied again. The const form hands it a copy.
int QueryPlugin(std::string_view name, std::string& query, std::string& body);
int QueryPlugin(std::string_view name, const std::string& query, std::string& body);

// The request call: KORUPGQuery2 when the module has it (it may change body, header and status),
// else the basic query call (only `body` changes). Returns -1, having called nothing, when no
// module answers to `name` (also once the server has stopped); the module's index otherwise,
// also when the module has neither query export. Throws EPluginError when the module raises.
// The module stays loaded until the call has returned.
// A basic query gets the buffer of `query` itself, as QueryPlugin does.
int RunPlugin(std::string_view name, const std::string& peer, const std::string& request,
              std::string& query, std::string& body, std::string& header, int32_t& status);
int RunPlugin(std::string_view name, const std::string& peer, const std::string& request,
              const std::string& query, std::string& body, std::string& header, int32_t& status);

// Shuts down the first module that answers to `name`: waits for its running calls, then calls its
// KORUPGDone with `reason`; from then on it answers to no name. Returns its index or -1. Throws
// EPluginError when KORUPGDone raises.
int DonePlugin(std::string_view name, int32_t reason);

// Sets PluginInitParam to -1 and stops every module from answering to its name, then, in list
// order, waits for the module's running calls and calls its KORUPGDone once with `reason`, and
// finally releases every module. A KORUPGDone that raises keeps no other module from its own nor
// from its release; the first error is thrown at the end, as an EPluginError.
void ShutdownPlugins(int32_t reason);

// The same shutdown without waiting (UI thread): every module stops answering to its name at
// once; those without a running call get their KORUPGDone and are released now, the others when
// their last running call returns (that worker has the UI thread finish it). `whenReleased` runs
// on the UI thread when the last of them is released. Errors of KORUPGDone are logged. True when
// every module was released before it returned.
bool ShutdownPluginsWhenIdle(int32_t reason, std::function<void()> whenReleased);
// Finishes what such a shutdown left for modules whose calls have ended (UI thread). True when
// nothing of it is left.
bool FinishIdleShutdowns();
// Whether such a shutdown still waits for a module's call.
bool ShutdownsPending();

// Waits for running calls, then releases every module without calling KORUPGDone and empties the
// list.
void ReleasePluginModules();

// The main window's side of the modules: the loaded flag and the lines of the "Plugins" list.
// Owned by the UI thread. Nothing a module file or a module does makes it throw: what goes wrong
// is reported.
class PluginPanel : platform::NoCopy {
public:
    PluginPanel() = default;
    ~PluginPanel();

    bool PluginsLoaded() const { return loaded_; }
    // One line per registered module: upper-cased name + " ==> " + title, in load order.
    const QStringList& Lines() const { return lines_; }
    // One line per module file the last scan skipped: file name + ": skipped, " + why.
    const QStringList& Skipped() const { return skipped_; }

    // Loads every module file ("*.so" in any case, dot files skipped) of the folder
    // AddBackslash(pluginsPath), in the order the file system lists them, unless the modules are
    // loaded already. Counts as done also when the folder is missing or nothing registered. A
    // file that is no module of this machine, a folder of such a name and a module whose
    // KORUPGInit raises are skipped and reported; a module that declines is skipped silently.
    // While modules of an earlier run still wait for a call to return, the scan is made when
    // they have been released.
    void ScanPlugins(const QString& pluginsPath);
    // Shuts the modules down with `reason` and empties the list, if they are loaded. Reason 2
    // (the server stopped) never waits for a module; any other reason (the program's end) does.
    // What a KORUPGDone raises is reported.
    void UnloadPlugins(int32_t reason);

    // Called after every change of the flag or the lists.
    std::function<void()> OnChanged;
    // Called once for each problem (a skipped file, a KORUPGDone that raised), with its text.
    std::function<void(const QString& problem)> OnProblem;

private:
    void changed() const;
    void released();
    void skip(const QString& fileName, const QString& why);
    void report(const QString& problem) const;

    bool loaded_ = false;
    QStringList lines_;
    QStringList skipped_;
    // A stop's shutdown waits for a call: a start meanwhile scans this folder once it is done.
    std::optional<QString> scanWhenReleased_;
    bool waitingForRelease_ = false;
};
