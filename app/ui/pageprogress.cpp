#include "pageprogress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace pageprogress {

namespace {

std::atomic<int> progressDelayMs{1000};
constexpr int kRefreshMs = 50;

QString pageText(int page, int pages)
{
    return QStringLiteral("正在写入第 %1 页，共 %2 页").arg(page).arg(pages);
}

} // namespace

void setDelay(int ms) { progressDelayMs = ms; }
int delay() { return progressDelayMs; }

namespace {

documentwriter::Outcome runWith(QWidget *parent, int pages, const Job &job,
                                std::atomic<bool> *cancel)
{
    std::atomic<int> page{0};
    documentwriter::Outcome outcome;
    std::unique_ptr<QThread> worker(QThread::create(
        [&] { outcome = job([&](int current) { page = current; }); }));

    QProgressDialog progress(pageText(1, pages), QString(), 0, pages, parent);
    progress.setWindowTitle(QStringLiteral("存储文档"));
    progress.setWindowModality(Qt::WindowModal);
    if (cancel != nullptr) {
        progress.setCancelButtonText(QStringLiteral("取消"));
        QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&progress, cancel] {
            *cancel = true;
            progress.setLabelText(QStringLiteral("正在取消……"));
        });
    } else {
        progress.setCancelButton(nullptr);
    }
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(progressDelayMs);
    progress.setValue(0);   // starts the show delay

    QEventLoop loop;
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &progress, [&] {
        const int current = page;
        if (current <= 0 || (cancel != nullptr && *cancel))
            return;
        progress.setLabelText(pageText(current, pages));
        // The value counts finished pages; setting the minimum again would
        // restart the dialog's show delay.
        if (current > 1 && current - 1 != progress.value())
            progress.setValue(current - 1);
    });
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    refresh.start(kRefreshMs);
    worker->start();
    loop.exec();
    worker->wait();
    refresh.stop();
    progress.close();
    return outcome;
}

} // namespace

documentwriter::Outcome run(QWidget *parent, int pages, const Job &job)
{
    return runWith(parent, pages, job, nullptr);
}

documentwriter::Outcome runCancellable(QWidget *parent, int pages, const Job &job,
                                       std::atomic<bool> &cancel)
{
    return runWith(parent, pages, job, &cancel);
}

} // namespace pageprogress
