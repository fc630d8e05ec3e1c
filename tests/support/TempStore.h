#pragma once

#include <QString>
#include <QTemporaryDir>

#include <cstdlib>

// Points the machine-wide and the per-user settings roots at a fresh temporary folder for the
// lifetime of a test, and restores the previous environment afterwards.
class TempStore {
public:
    TempStore() : oldDirs_(get("XDG_CONFIG_DIRS")), oldHome_(get("XDG_CONFIG_HOME")) {
        setenv("XDG_CONFIG_DIRS", systemDir().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", userDir().toLocal8Bit().constData(), 1);
    }
    ~TempStore() {
        put("XDG_CONFIG_DIRS", oldDirs_);
        put("XDG_CONFIG_HOME", oldHome_);
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    QString systemDir() const { return dir_.path() + "/etc"; }
    QString userDir() const { return dir_.path() + "/home"; }
    QString path() const { return dir_.path(); }

private:
    static QByteArray get(const char* name) { return qgetenv(name); }
    static void put(const char* name, const QByteArray& value) {
        if (value.isNull())
            unsetenv(name);
        else
            setenv(name, value.constData(), 1);
    }
    QTemporaryDir dir_;
    QByteArray oldDirs_;
    QByteArray oldHome_;
};
