#include "main_window.h"

#include "lumora_version.h"

namespace lumora {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral(LUMORA_PRODUCT_NAME " Ver: " LUMORA_PRODUCT_VERSION));
}

}  // namespace lumora
