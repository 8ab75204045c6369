// SPDX-License-Identifier: MIT
#pragma once
// The log list's view: one column of fixed-height text rows.
//
// A QTableView with hidden headers and fixed row heights, because its cost per insertion does
// not grow with the number of rows; a QListView lays out every row again on each insertion,
// which at two million rows takes longer than the reader takes to deliver the next batch.
#include <QTableView>

#include <functional>

namespace Wirelog {

class LogView : public QTableView {
    Q_OBJECT

public:
    // Lines are drawn this wide at least, wider when a line needs it; a narrower view scrolls
    // sideways up to that width.
    static constexpr int kScrollWidth = 600;

    explicit LogView(QWidget* parent = nullptr);

    // The log's font: "Lucida Sans Typewriter" 8 pt, or the nearest fixed-pitch font installed.
    static QFont LogFont();

    void setModel(QAbstractItemModel* model) override;

    // Shows the last full page of lines, the newest line at the bottom.
    void ShowNewestLine();

    // Called with the file's name when a local file is dropped on the list.
    void SetFileDropHandler(std::function<void(const QString&)> handler) {
        fileDropped_ = std::move(handler);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FitRowsToFont();
    void FitColumnToView();
    int LongestLineWidth() const;

    std::function<void(const QString&)> fileDropped_;
};

} // namespace Wirelog
