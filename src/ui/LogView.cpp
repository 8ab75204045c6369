// SPDX-License-Identifier: MIT
#include "ui/LogView.h"

#include "ui/LogModel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMimeData>
#include <QStyle>

#include <algorithm>

namespace Wirelog {

LogView::LogView(QWidget* parent) : QTableView(parent) {
    setFont(LogFont());
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Any number of lines can be selected, and a click toggles the clicked line.
    setSelectionMode(QAbstractItemView::MultiSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Reached with the mouse only: never a tab stop, no input method.
    setFocusPolicy(Qt::ClickFocus);
    setTabKeyNavigation(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::ArrowCursor);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    FitRowsToFont();
}

namespace {

// The one local file a drop carries, or an empty name.
QString DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().front().isLocalFile())
        return {};
    return data->urls().front().toLocalFile();
}

} // namespace

void LogView::dragEnterEvent(QDragEnterEvent* event) {
    if (fileDropped_ && !DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void LogView::dragMoveEvent(QDragMoveEvent* event) {
    if (fileDropped_ && !DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void LogView::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData());
    if (!fileDropped_ || file.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    fileDropped_(file);
}

QFont LogView::LogFont() {
    QFont font;
    // The families after the first are fixed-pitch faces found on Windows, macOS and Linux;
    // without them the generic fixed-pitch font of some systems resolves to a proportional one.
    font.setFamilies({QStringLiteral("Lucida Sans Typewriter"), QStringLiteral("Lucida Console"),
                      QStringLiteral("Consolas"), QStringLiteral("Menlo"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("Noto Sans Mono"), QStringLiteral("Courier New")});
    font.setPointSize(8);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

void LogView::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    if (model != nullptr) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &LogView::FitColumnToView);
        connect(model, &QAbstractItemModel::modelReset, this, &LogView::FitColumnToView);
    }
    FitColumnToView();
}

void LogView::ShowNewestLine() {
    scrollToBottom();
}

void LogView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitColumnToView();
}

void LogView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitRowsToFont();
}

void LogView::FitRowsToFont() {
    // One row per line, as high as the font's line; the header's own minimum would pad it.
    const int height = QFontMetrics(font()).height();
    verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
}

void LogView::FitColumnToView() {
    if (model() == nullptr || model()->columnCount() == 0)
        return;
    // Lines fill the view's width, and never less than the scroll width.
    setColumnWidth(0, std::max({kScrollWidth, LongestLineWidth(), viewport()->width()}));
}

// The longest error lines run past the classic 600 pixels in any fixed-pitch font of the log's
// size; the sideways scroll reaches their end instead of cutting them off.
int LogView::LongestLineWidth() const {
    const auto* log = qobject_cast<const LogModel*>(model());
    if (log == nullptr)
        return 0;
    const int textMargin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const auto characters = static_cast<int>(log->LongestLine());
    return characters * QFontMetrics(font()).horizontalAdvance(QLatin1Char('M')) + 2 * textMargin;
}

} // namespace Wirelog
