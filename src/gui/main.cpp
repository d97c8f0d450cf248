// lumora: the desktop program.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include "app/lumora_dlg.h"
#include "app_icon.h"
#include "main_window.h"
#include "tools/publishing_tools.h"
#include "tools/tool_windows.h"
#include "views/chart_views.h"
#include "lumora_version.h"

namespace {

int g_signalPipe[2] = {-1, -1};

// A termination signal only writes a byte; the window ends the program from
// its event loop, as its close box would.
void OnTerminate(int) {
    char b = 1;
    ssize_t ignored = write(g_signalPipe[1], &b, 1);
    (void)ignored;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(LUMORA_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_PRODUCT_VERSION));
    QApplication::setWindowIcon(lumora::ProgramIcon());
    // The window hides into the tray; only the end of the program ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    lumora::CLumoraDlg::ApplyLanguage(lumora::SettingsStore());
    lumora::MainWindow window;
    // Declared after the window, so destroyed before it, as the tools require.
    lumora::ToolWindows tools(window);
    lumora::ChartViews charts(window);  // view tabs 1 to 3
    lumora::PublishingTools publishing(window);  // Setting > MQTT..., Tools > Play recording...
    QObject::connect(&window, &lumora::MainWindow::programEnded, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            char b;
            ssize_t ignored = read(g_signalPipe[0], &b, 1);
            (void)ignored;
            window.EndProgram();
        });
        struct sigaction sa {};
        sa.sa_handler = OnTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    if (const char* restarted = std::getenv("LUMORA_RESTARTED")) {
        (void)restarted;
        unsetenv("LUMORA_RESTARTED");
        window.Dlg().SetStartupPortWait(3000);
    }
    window.show();
    window.Initialise();
    return app.exec();
}
