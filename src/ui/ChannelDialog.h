// SPDX-License-Identifier: MIT
#pragma once
// The small modal dialog that asks which of a logic capture's channels carry SCL and SDA, when
// none are named so. A dialog of its own: the main window's layout stays as it is.
#include <QComboBox>
#include <QDialog>

#include <string>
#include <vector>

namespace Wirelog {

class ChannelDialog : public QDialog {
    Q_OBJECT

public:
    // `fileName` as the user knows it; the channels in the file's order, the first two chosen.
    ChannelDialog(const QString& fileName, const std::vector<std::string>& channels,
                  QWidget* parent = nullptr);

    int sclIndex() const { return scl_.currentIndex(); }
    int sdaIndex() const { return sda_.currentIndex(); }
    QComboBox& sclBox() { return scl_; }
    QComboBox& sdaBox() { return sda_; }

private:
    QComboBox scl_{this};
    QComboBox sda_{this};
};

} // namespace Wirelog
