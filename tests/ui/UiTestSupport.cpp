#include "UiTestSupport.h"

#include "EventBuffer.h"
#include "ViewTWI.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>

#include <stdexcept>

namespace Wirelog::testing {

RecordedMessages::RecordedMessages()
    : sink_([this](const MessageRequest& request) { messages_.push_back(request); }) {}

std::vector<std::string> RecordedMessages::Texts() const {
    std::vector<std::string> texts;
    for (const MessageRequest& message : messages_)
        texts.push_back(message.text);
    return texts;
}

WindowFixture::WindowFixture() {
    if (!dir_.isValid())
        throw std::runtime_error("no scratch directory");
    QFile library(QDir(dir_.path()).filePath(QString::fromLatin1(kSupportLibraryFile)));
    if (!library.open(QIODevice::WriteOnly) || library.write("present") != 7)
        throw std::runtime_error("cannot prepare the scratch directory");
}

std::unique_ptr<Form1> WindowFixture::MakeWindow() {
    _isRunning = true;
    return std::make_unique<Form1>(
        SupportLibraryDeployment{dir_.path(), [] { return QByteArray(); }});
}

QStringList Rows(const QAbstractItemModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << model.data(model.index(row, 0)).toString();
    return rows;
}

void StartNewCapture() {
    ResetEventBuffer();
    ResetDecoder();
}

} // namespace Wirelog::testing
