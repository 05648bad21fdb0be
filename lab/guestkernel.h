#pragma once

#include <QString>
#include <QStringList>

// What a test program running inside the lab's virtual machine needs from
// the guest kernel: its modules (from the unpacked kernel package named by
// LAB_MODULES), sysfs writes and the output of the V4L2 tools.
namespace guestkernel {

// True inside the lab's guest; tests skip themselves elsewhere.
bool inGuest();

// modprobe / modprobe -r against the unpacked modules; false on failure.
bool load(const QString &module, const QStringList &parameters = {});
bool unload(const QString &module);

// Runs a program and returns its standard output (empty when it fails).
QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr);

// Writes `text` into a sysfs or configfs file; false on failure.
bool writeFile(const QString &path, const QByteArray &text);

// Waits until `path` exists (or, with `present` false, is gone).
bool waitForPath(const QString &path, int timeoutMs, bool present = true);

} // namespace guestkernel
