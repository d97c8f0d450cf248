#include "tools/command_editor_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "tools/tool_text.h"
#include "control_tips.h"

namespace lumora {

using tools::Caption;
using tools::ControlName;
using tools::Q;
using tools::S;

namespace {

const Caption kTitle{"Commad", "指令"};
const Caption kGroup{"Name                                Text", "指令名                          指令"};
const Caption kSendText{"Send", "发送"};
const Caption kAppendText{"Append", "增加"};
const Caption kDeleteText{"Delete", "删除"};
const Caption kStandardText{"Standard", "标准"};
const Caption kSaveText{"Save", "保存"};
const Caption kCancelText{"Cancel", "取消"};
const Caption kSplitsList{"A command's name and text may not contain \"@\" or \"&\": they separate the commands "
                          "in the stored list.",
                          "指令名和指令中不能包含“@”或“&”：它们是保存的指令列表中的分隔符。"};

// The instrument takes CR LF as a command's line break; the box works with LF.
std::string CommandFromBox(const QString& boxText) {
    QString text = boxText;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return S(text);
}

QString CommandForBox(const std::string& command) {
    QString text = Q(command);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

constexpr int kListWidth = 450;

}  // namespace

CommandEditorWindow::CommandEditorWindow(SettingsStore& settings, std::function<void(std::string)> post, Language lang,
                                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      editor_(settings, std::move(post)) {
    setObjectName(QStringLiteral("commandEditor"));
    setWindowTitle(kTitle.In(lang));
    setModal(false);

    auto button = [&](int id, const Caption& c) {
        auto* b = new QPushButton(c.In(lang), this);
        b->setObjectName(ControlName(id));
        b->setAutoDefault(false);  // Enter belongs to the boxes
        return b;
    };
    auto box = [&](int id) {
        auto* e = new QPlainTextEdit(this);
        e->setObjectName(ControlName(id));
        e->setTabChangesFocus(true);
        e->setFixedHeight(e->fontMetrics().lineSpacing() * 3 + 12);
        return e;
    };
    name_ = box(kNameBox);
    text_ = box(kTextBox);

    list_ = new QTableWidget(0, 1, this);
    list_->setObjectName(ControlName(kList));
    list_->horizontalHeader()->hide();
    list_->verticalHeader()->hide();
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setColumnWidth(0, kListWidth);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setMinimumWidth(kListWidth + 4);
    list_->setMinimumHeight(list_->fontMetrics().lineSpacing() * 12);

    QPushButton* send = button(kSend, kSendText);
    QPushButton* append = button(kAppend, kAppendText);
    QPushButton* del = button(kDelete, kDeleteText);
    QPushButton* standard = button(kStandard, kStandardText);
    QPushButton* save = button(kSave, kSaveText);
    QPushButton* cancel = button(kCancel, kCancelText);

    auto* group = new QGroupBox(kGroup.In(lang), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(name_, 0, 0);
    grid->addWidget(text_, 0, 1);
    grid->setColumnStretch(1, 2);
    grid->addWidget(send, 0, 2, Qt::AlignTop);
    grid->addWidget(list_, 1, 0, 1, 2);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(append);
    listButtons->addWidget(del);
    listButtons->addStretch();
    grid->addLayout(listButtons, 1, 2);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(standard);
    bottom->addWidget(save);
    bottom->addWidget(cancel);
    bottom->addStretch();
    auto* top = new QVBoxLayout(this);
    top->addWidget(group);
    top->addLayout(bottom);

    // What the user types is the editor's; what the editor puts there is shown.
    connect(name_, &QPlainTextEdit::textChanged, this, [this] {
        if (!updating_) editor_.nameBox = S(name_->toPlainText());
    });
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        if (!updating_) editor_.textBox = CommandFromBox(text_->toPlainText());
    });
    connect(list_, &QTableWidget::itemSelectionChanged, this, [this] {
        if (updating_) return;
        int row = SelectedRow();
        if (row < 0) return;
        editor_.SelectRow(row);
        ShowBoxes();
    });
    connect(send, &QPushButton::clicked, this, [this] { editor_.Send(); });
    connect(append, &QPushButton::clicked, this, [this, lang] {
        if (editor_.nameBox != kSeparatorName && !editor_.textBox.empty() &&
            SplitsCommandList(editor_.nameBox, editor_.textBox)) {
            showMessage(kSplitsList.In(lang));
            return;
        }
        if (editor_.Append()) ShowRows();
    });
    connect(del, &QPushButton::clicked, this, [this] {
        if (editor_.Delete(SelectedRow())) {
            ShowRows();
            ShowBoxes();
        }
    });
    connect(standard, &QPushButton::clicked, this, [this] {
        editor_.Standard();
        ShowRows();
    });
    connect(save, &QPushButton::clicked, this, [this] { editor_.Save(); });
    connect(cancel, &QPushButton::clicked, this, &CommandEditorWindow::reject);

    showMessage = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

    editor_.Load();
    ShowRows();
    ApplyToolTips(this, lang);
}

QPushButton* CommandEditorWindow::Button(int id) const { return findChild<QPushButton*>(ControlName(id)); }

void CommandEditorWindow::reject() { hide(); }

int CommandEditorWindow::SelectedRow() const {
    const QList<QTableWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? -1 : items.first()->row();
}

void CommandEditorWindow::ShowRows() {
    ++updating_;
    const std::vector<std::string>& rows = editor_.Rows();
    list_->clearSelection();
    list_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        auto* item = new QTableWidgetItem(Q(rows[static_cast<size_t>(i)]));
        list_->setItem(i, 0, item);
    }
    list_->resizeRowsToContents();
    --updating_;
}

void CommandEditorWindow::ShowBoxes() {
    ++updating_;
    if (S(name_->toPlainText()) != editor_.nameBox) name_->setPlainText(Q(editor_.nameBox));
    if (CommandFromBox(text_->toPlainText()) != editor_.textBox) text_->setPlainText(CommandForBox(editor_.textBox));
    --updating_;
}

}  // namespace lumora
