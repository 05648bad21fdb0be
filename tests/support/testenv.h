#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace testenv {

// Pumps the event loop until `done` holds or `timeoutMs` passes.
bool waitFor(const std::function<bool()> &done, int timeoutMs);

// Puts Cache::config back to factory values with a fresh, empty working
// directory of its own and the build's Resources/ as application directory.
void resetConfig(QTemporaryDir &documents);

// Collects every warning box as "title|text" in `into` instead of showing
// it; WarningBox::setHandler({}) ends the capture.
void captureWarnings(QStringList &into);

// Directory of the built docstation (holds Resources/).
QString appDir();

} // namespace testenv
