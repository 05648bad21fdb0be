#pragma once

#include "documentwriter.h"

#include <atomic>
#include <functional>

class QWidget;

// Runs a document writer on a worker thread while the GUI thread keeps
// handling events, so the windows keep painting. Writes that last longer than
// the delay show a progress dialog with the page being written.
namespace pageprogress {

using Job = std::function<documentwriter::Outcome(const documentwriter::Progress &progress)>;

documentwriter::Outcome run(QWidget *parent, int pages, const Job &job);

// The same with a "取消" button on the dialog that sets `cancel`; the job
// watches it and stops.
documentwriter::Outcome runCancellable(QWidget *parent, int pages, const Job &job,
                                       std::atomic<bool> &cancel);

// How long a write runs before the progress dialog appears (1000 ms).
void setDelay(int ms);
int delay();

} // namespace pageprogress
