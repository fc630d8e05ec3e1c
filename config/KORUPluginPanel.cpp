// The main window's side of the modules: scanning the folder as the server starts, unloading as
// it stops, and the lines of the "Plugins" list.
#include "config/HomeTool.h"
#include "config/KORUPlugin.h"
#include "platform/FilePath.h"

#include <QDirIterator>

PluginPanel::~PluginPanel() {
    // A shutdown still waiting for a call must not report to a panel that is gone.
    if (waitingForRelease_)
        ShutdownPluginsWhenIdle(KORUPG_DONE_SERVER_STOPPED, nullptr);
}

void PluginPanel::ScanPlugins(const QString& pluginsPath) {
    if (loaded_)
        return;
    if (ShutdownsPending()) {
        // The modules of the last run are still inside calls: this run's are loaded once those
        // are released, so that no module file is loaded twice at once.
        scanWhenReleased_ = pluginsPath;
        return;
    }
    scanWhenReleased_.reset();
    PluginInitParam = KORUPG_INIT_PARAM;
    skipped_.clear();
    const QString folder = AddBackslash(pluginsPath);
    // Folders are listed too, so that one named like a module file is reported, not ignored.
    QDirIterator entries(folder.isEmpty() ? QStringLiteral(".") : platform::ToFsPath(folder),
                         {QStringLiteral("*.so")},
                         QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    while (entries.hasNext()) {
        entries.next();
        if (entries.fileInfo().isDir()) {
            skip(entries.fileName(), QStringLiteral("a folder"));
            continue;
        }
        std::string name;
        std::string title;
        QString problem;
        try {
            if (LoadPluginModule(folder + entries.fileName(), name, title, &problem) >= 0)
                lines_.append(QString::fromUtf8(name) + QStringLiteral(" ==> ") +
                              QString::fromUtf8(title));
            else if (!problem.isEmpty())
                skip(entries.fileName(), problem);
        } catch (const EPluginError& error) {
            // Released already: skipped like a module that declines, and the others still load.
            skip(entries.fileName(), QString::fromUtf8(error.what()));
        }
    }
    loaded_ = true;
    changed();
}

void PluginPanel::UnloadPlugins(int32_t reason) {
    scanWhenReleased_.reset();
    if (reason == KORUPG_DONE_SERVER_STOPPED) {
        // The UI thread never waits for a module: modules still inside a call get their
        // KORUPGDone, and are released, when that call has returned.
        if (loaded_)
            waitingForRelease_ = !ShutdownPluginsWhenIdle(reason, [this] { released(); });
    } else {
        waitingForRelease_ = false;
        // At the program's end the workers have ended (or the process is cut short without
        // this): waiting here waits for nobody. A stop's shutdown still due is finished first.
        if (ShutdownsPending())
            ShutdownPluginsWhenIdle(KORUPG_DONE_SERVER_STOPPED, nullptr);
        if (loaded_) {
            try {
                ShutdownPlugins(reason);
            } catch (const EPluginError& error) {
                report(QString::fromUtf8(error.what()));
            }
        }
        ReleasePluginModules();
    }
    if (!loaded_ && skipped_.isEmpty())
        return;
    loaded_ = false;
    lines_.clear();
    skipped_.clear();
    changed();
}

void PluginPanel::released() {
    waitingForRelease_ = false;
    if (scanWhenReleased_)
        ScanPlugins(*scanWhenReleased_);
}

void PluginPanel::skip(const QString& fileName, const QString& why) {
    const QString line = fileName + QStringLiteral(": skipped, ") + why;
    skipped_.append(line);
    report(line);
}

void PluginPanel::report(const QString& problem) const {
    qWarning("Plugins: %s", qPrintable(problem));
    if (OnProblem)
        OnProblem(problem);
}

void PluginPanel::changed() const {
    if (OnChanged)
        OnChanged();
}
