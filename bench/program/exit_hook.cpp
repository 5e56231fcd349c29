// Loaded into the real program with LD_PRELOAD by the start-up benchmark:
// notes when the Qt application object is made and when the program's event
// loop runs (CLOCK_MONOTONIC, nanoseconds, one line) in the file named by
// KOVRA610_BENCH_REPORT, then posts a press
// of the panel's "Exit" button, so the program ends the way an operator ends
// it. Nothing of this is part of the program.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long long g_applicationMadeNs = 0;

long long monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

QAbstractButton* exitButton() {
    for (QWidget* w : QApplication::allWidgets()) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        if (b != nullptr && b->text() == QLatin1String("Exit") && b->isVisible()) return b;
    }
    return nullptr;
}

void whenOperating() {
    // Events processed during start-up come before the event loop runs.
    if (QThread::currentThread()->loopLevel() == 0) {
        QTimer::singleShot(1, whenOperating);
        return;
    }
    const long long now = monotonicNs();
    if (const char* report = std::getenv("KOVRA610_BENCH_REPORT")) {
        if (FILE* f = std::fopen(report, "w")) {
            std::fprintf(f, "%lld %lld\n", g_applicationMadeNs, now);
            std::fclose(f);
        }
    }
    QAbstractButton* button = exitButton();
    if (button == nullptr) {
        std::fprintf(stderr, "exit hook: no \"Exit\" button on the panel\n");
        QCoreApplication::exit(3);
        return;
    }
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

void install() {
    g_applicationMadeNs = monotonicNs();
    QTimer::singleShot(0, whenOperating);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
