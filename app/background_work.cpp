#include "app/background_work.h"

#include "app/progress_view.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <memory>

void run_in_background(ProgressView& view, const std::function<void()>& work,
                       const std::function<void(ProgressView&)>& refresh)
{
    // A cancellation already asked for must reach the work before it starts.
    refresh(view);

    QEventLoop loop;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] { refresh(view); });

    std::unique_ptr<QThread> worker(QThread::create(work));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    timer.start();
    worker->start();
    loop.exec();
    worker->wait();
    refresh(view);
}
