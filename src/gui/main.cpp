// lumora: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "app/lumora_dlg.h"
#include "settings/settings_store.h"
#include "window/string_table.h"
#include "app_icon.h"
#include "main_window.h"
#include "platform/install_paths.h"
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

const char kUsage[] =
    "usage: lumora [--user-folder] [Qt options]\n"
    "       lumora --help | --version\n";

void PrintHelp() {
    std::printf(
        "%s"
        "The Lumora desktop program. It works in the current folder: its settings\n"
        "file Lumora.ini, the recordings (Save DIR \"NULL\") and the scripts daq.sh,\n"
        "convert.sh and 7z.sh are looked for there; a script missing there is taken\n"
        "from the installed copies.\n"
        "  --user-folder   work in ~/Lumora instead (created when missing, the scripts\n"
        "                  copied in when missing); the desktop menu starts it so\n"
        "  -h, --help      print this text and exit\n"
        "  -V, --version   print the version and exit\n"
        "Qt's own options are accepted too, e.g. -platform offscreen.\n"
        "Exit status: 0 when the program ended normally, 1 when the work folder could\n"
        "not be used, 2 for an unknown option, 255 when the language switch could not\n"
        "start the new instance.\n",
        kUsage);
}

bool IsOption(const char* arg, const char* longName, const char* shortName) {
    return std::strcmp(arg, longName) == 0 || std::strcmp(arg, shortName) == 0;
}

// Qt's own options, which QApplication takes out of the arguments; Qt reads
// them with one dash or two, and a few also as -name=value.
const char* const kQtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                           "qwindowgeometry", "geometry", "qwindowicon", "icon",
                                           "qwindowtitle", "title", "session", "display", "name",
                                           "style", "stylesheet", "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "testability", "nograb", "dograb"};

enum class QtOption { None, Flag, WithValue };

QtOption QtOptionKind(const char* arg) {
    if (arg[0] != '-') return QtOption::None;
    std::string name = arg + (arg[1] == '-' ? 2 : 1);
    const size_t eq = name.find('=');
    const bool valueAttached = eq != std::string::npos;
    if (valueAttached) name.resize(eq);
    for (const char* o : kQtOptionsWithValue)
        if (name == o) return valueAttached ? QtOption::Flag : QtOption::WithValue;
    for (const char* o : kQtFlags)
        if (name == o && !valueAttached) return QtOption::Flag;
    return QtOption::None;
}

// Every argument is looked at before Qt starts, so that a wrong one is told
// on any display, or none. Returns the exit status when the program is to
// end here, -1 to go on.
int CheckArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsOption(arg, "--help", "-h")) {
            PrintHelp();
            return 0;
        }
        if (IsOption(arg, "--version", "-V")) {
            std::printf("%s %s\n", LUMORA_PRODUCT_NAME, LUMORA_PRODUCT_VERSION);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--user-folder") == 0) continue;
        switch (QtOptionKind(arg)) {
            case QtOption::Flag:
                continue;
            case QtOption::WithValue:
                if (++i < argc) continue;
                std::fprintf(stderr, "lumora: option '%s' needs a value\n%s", arg, kUsage);
                return 2;
            case QtOption::None:
                std::fprintf(stderr, "lumora: unknown option '%s'\n%s", arg, kUsage);
                return 2;
        }
    }
    return -1;
}

// The scripts find lumora-cli through LUMORA_CLI first: point them at the one
// installed beside this program.
void OfferCliToScripts() {
    if (std::getenv("LUMORA_CLI")) return;
    std::error_code ec;
    std::filesystem::path cli = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "lumora-cli";
    if (!ec && std::filesystem::is_regular_file(cli, ec)) setenv("LUMORA_CLI", cli.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = CheckArguments(argc, argv); status >= 0) return status;
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    bool userFolder = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--user-folder") == 0) {
            userFolder = true;
        } else {
            // A Qt option of another platform than the one that started.
            std::fprintf(stderr, "lumora: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (userFolder) {
        std::string error;
        if (!lumora::EnterWorkFolder(lumora::UserWorkFolder(), lumora::InstalledScriptsDirectory(), &error)) {
            std::fprintf(stderr, "lumora: %s\n", error.c_str());
            // Started from a menu, nobody reads standard error.
            QMessageBox::critical(nullptr, QStringLiteral("Lumora"), QString::fromStdString(error));
            return 1;
        }
    }
    OfferCliToScripts();
    QApplication::setApplicationName(QStringLiteral(LUMORA_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_PRODUCT_VERSION));
    QApplication::setWindowIcon(lumora::ProgramIcon());
    // Ties the window to the menu entry lumora.desktop (its icon on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    // The window hides into the tray; only the end of the program ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    lumora::CLumoraDlg::ApplyLanguage(lumora::SettingsStore());
    lumora::MainWindow window;
    // A settings file the user made read-only: the program runs with what it
    // read, and says once that changes will not be kept.
    lumora::SettingsStore::SetNotSavedHandler([&window](const std::string& path) {
        QMetaObject::invokeMethod(
            &window,
            [&window, path] {
                const bool chinese = lumora::UiLanguage() == lumora::Language::Chinese;
                window.MessageBox(chinese ? path + " 是只读文件，设置的更改将不会保存。"
                                          : path + " is read-only: changes to the settings will not be saved.",
                                  LUMORA_PRODUCT_NAME, lumora::kMbOk, lumora::kMbIconWarning);
            },
            Qt::QueuedConnection);
    });
    // A settings file holding a password that other users can read: said
    // once, with the command that closes it.
    lumora::SettingsStore::SetExposedSecretHandler([&window](const std::string& path) {
        QMetaObject::invokeMethod(
            &window,
            [&window, path] {
                window.MessageBox(lumora::StringPrintf(lumora::LoadString(232).c_str(), path.c_str(), path.c_str()),
                                  LUMORA_PRODUCT_NAME, lumora::kMbOk, lumora::kMbIconWarning);
            },
            Qt::QueuedConnection);
    });
    // Declared after the window, so destroyed before it, as the tools require.
    lumora::ToolWindows tools(window);
    lumora::ChartViews charts(window);  // view tabs 1 to 3
    lumora::PublishingTools publishing(window);  // Setting > MQTT..., Tools > Play recording...
    // The end may come before the event loop runs: a signal handled while a
    // start-up message box is up. exit(), unlike quit(), also leaves the box's
    // own loop, and the flag keeps the main loop from starting afterwards.
    bool ended = false;
    QObject::connect(
        &window, &lumora::MainWindow::programEnded, &app,
        [&ended, &window] {
            ended = true;
            QCoreApplication::exit(window.ExitCode());
        },
        Qt::QueuedConnection);

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
        // SIGHUP: the terminal the program was started from was closed.
        for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
    }

    if (const char* restarted = std::getenv("LUMORA_RESTARTED")) {
        (void)restarted;
        unsetenv("LUMORA_RESTARTED");
        window.Dlg().SetStartupPortWait(3000);
    }
    window.show();
    window.Initialise();
    const int result = ended ? window.ExitCode() : app.exec();
    // The window goes before the store's last writes.
    lumora::SettingsStore::SetNotSavedHandler(nullptr);
    lumora::SettingsStore::SetExposedSecretHandler(nullptr);
    return result;
}
