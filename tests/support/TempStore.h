#pragma once

#include <QString>
#include <QTemporaryDir>

#include <cstdlib>

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name), old_(qgetenv(name)) {
        setenv(name, value.toLocal8Bit().constData(), 1);
    }
    ~ScopedEnv() {
        if (old_.isNull())
            unsetenv(name_);
        else
            setenv(name_, old_.constData(), 1);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    QByteArray old_;
};

// Points the machine-wide and the per-user settings roots, and the state folder that holds the
// default request log, at a fresh temporary folder for the lifetime of a test.
class TempStore {
public:
    QString systemDir() const { return dir_.path() + "/etc"; }
    QString userDir() const { return dir_.path() + "/home"; }
    QString stateDir() const { return dir_.path() + "/state"; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    ScopedEnv dirs_{"XDG_CONFIG_DIRS", systemDir()};
    ScopedEnv home_{"XDG_CONFIG_HOME", userDir()};
    ScopedEnv state_{"XDG_STATE_HOME", stateDir()};
};
