#include "views/chart_controls.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace lumora {

namespace {

struct Text {
    const char* english;
    const char* chinese;
    QString In(Language lang) const { return QString::fromUtf8(lang == Language::Chinese ? chinese : english); }
};

const Text kSaveImage{"Save image...", "保存图像..."};
const Text kCopyData{"Copy data", "复制数据"};
const Text kViewRanges{"Automatic range", "自动范围"};
const Text kSaveTitle{"Save image", "保存图像"};
const Text kImageFilters{"PNG image (*.png);;PDF document (*.pdf)", "PNG 图像 (*.png);;PDF 文档 (*.pdf)"};
const Text kNotSaved{"Could not write %1.", "无法写入 %1。"};

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))) return s;
    QString quoted = s;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Number(double v) { return QString::number(v, 'g', 12); }

}  // namespace

ChartControls::ChartControls(QCustomPlot* chart, Language lang) : QObject(chart), chart_(chart), lang_(lang) {
    chart->setInteractions(QCP::iRangeZoom | QCP::iRangeDrag);
    chart->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    chart->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    connect(chart->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &ChartControls::OnAxisRangeChanged);
    connect(chart->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &ChartControls::OnAxisRangeChanged);
    connect(chart, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { Fit(); });
    chart->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chart, &QWidget::customContextMenuRequested, this, &ChartControls::ShowMenu);
    chooseImageFile = [this] {
        QString filter;
        QString path = QFileDialog::getSaveFileName(chart_, kSaveTitle.In(lang_),
                                                    QDir::current().filePath(chart_->objectName() + ".png"),
                                                    kImageFilters.In(lang_), &filter);
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
            path += filter.contains(QStringLiteral("*.pdf")) ? QStringLiteral(".pdf") : QStringLiteral(".png");
        return path;
    };
}

void ChartControls::SetAxisTitles(const QString& x, const QString& y) {
    if (!chart_) return;
    chart_->xAxis->setLabel(x);
    chart_->yAxis->setLabel(y);
}

void ChartControls::SetRanges(const QCPRange& x, const QCPRange& y) {
    ++applying_;
    chart_->xAxis->setRange(x);
    chart_->yAxis->setRange(y);
    --applying_;
}

void ChartControls::ApplyRanges(const QCPRange& x, const QCPRange& y) {
    if (!chart_) return;
    viewX_ = x;
    viewY_ = y;
    haveViewRanges_ = true;
    if (mode_ == Ranges::View)
        SetRanges(x, y);
    else if (mode_ == Ranges::Fitted)
        FitAxes();
}

void ChartControls::FitAxes() {
    ++applying_;
    chart_->rescaleAxes();
    // the lines keep off the frame; a flat line gets a range around it
    const QCPRange y = chart_->yAxis->range();
    const double margin = y.size() > 0 ? y.size() * 0.05 : std::max(1.0, std::abs(y.lower) * 0.05);
    chart_->yAxis->setRange(y.lower - margin, y.upper + margin);
    --applying_;
}

void ChartControls::OnAxisRangeChanged() {
    if (applying_) return;
    mode_ = Ranges::User;
    emit rangesChanged();
}

void ChartControls::Fit() {
    if (!chart_) return;
    mode_ = Ranges::Fitted;
    FitAxes();
    chart_->replot(QCustomPlot::rpQueuedReplot);
    emit rangesChanged();
}

void ChartControls::GiveRangesToView() {
    mode_ = Ranges::View;
    if (chart_ && haveViewRanges_) {
        SetRanges(viewX_, viewY_);
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    emit rangesChanged();
}

QString ChartControls::RangesText() const {
    if (mode_ == Ranges::View || !chart_) return QStringLiteral("view");
    if (mode_ == Ranges::Fitted) return QStringLiteral("fit");
    const QCPRange x = chart_->xAxis->range(), y = chart_->yAxis->range();
    return QStringLiteral("%1 %2 %3 %4").arg(Number(x.lower), Number(x.upper), Number(y.lower), Number(y.upper));
}

bool ChartControls::SetRangesText(const QString& text) {
    if (!chart_) return false;
    const QString t = text.trimmed();
    if (t == QStringLiteral("view")) {
        mode_ = Ranges::View;
        return true;
    }
    if (t == QStringLiteral("fit")) {
        mode_ = Ranges::Fitted;
        return true;
    }
    const QStringList parts = t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4) return false;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].toDouble(&ok);
        if (!ok || !std::isfinite(v[i])) return false;
    }
    if (!(v[0] < v[1]) || !(v[2] < v[3])) return false;
    mode_ = Ranges::User;
    SetRanges(QCPRange(v[0], v[1]), QCPRange(v[2], v[3]));
    return true;
}

QString ChartControls::DataCsv() const {
    if (!chart_) return {};
    const QCPRange shown = chart_->xAxis->range();
    const int n = chart_->graphCount();
    QStringList header{CsvField(chart_->xAxis->label().isEmpty() ? QStringLiteral("x") : chart_->xAxis->label())};
    std::map<double, std::vector<QString>> rows;
    for (int g = 0; g < n; ++g) {
        const QCPGraph* graph = chart_->graph(g);
        header << CsvField(graph->name());
        const QCPGraphDataContainer& data = *graph->data();
        for (auto it = data.findBegin(shown.lower, false); it != data.findEnd(shown.upper, false); ++it) {
            std::vector<QString>& row = rows[it->key];
            row.resize(static_cast<size_t>(n));
            row[static_cast<size_t>(g)] = Number(it->value);
        }
    }
    QString csv = header.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (auto& [key, cells] : rows) {
        csv += Number(key);
        for (const QString& cell : cells) csv += QLatin1Char(',') + cell;
        csv += QLatin1Char('\n');
    }
    return csv;
}

bool ChartControls::SaveImage(const QString& path) const {
    if (!chart_) return false;
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) return chart_->savePdf(path);
    return chart_->savePng(path);
}

void ChartControls::SaveImageAs() {
    const QString path = chooseImageFile ? chooseImageFile() : QString();
    if (path.isEmpty()) return;
    if (!SaveImage(path)) QMessageBox::warning(chart_, kSaveTitle.In(lang_), kNotSaved.In(lang_).arg(path));
}

void ChartControls::ShowMenu(const QPoint& pos) {
    if (!chart_) return;
    QMenu menu(chart_);
    menu.setObjectName("chartMenu");
    menu.addAction(kSaveImage.In(lang_), this, &ChartControls::SaveImageAs);
    menu.addAction(kCopyData.In(lang_), this, [this] { QGuiApplication::clipboard()->setText(DataCsv()); });
    menu.addSeparator();
    QAction* view = menu.addAction(kViewRanges.In(lang_), this, &ChartControls::GiveRangesToView);
    view->setCheckable(true);
    view->setChecked(mode_ == Ranges::View);
    menu.exec(chart_->mapToGlobal(pos));
}

}  // namespace lumora
