// SPDX-License-Identifier: MIT
#include "app/Deployment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>

namespace Wirelog {

bool _isRunning = true;

namespace {

constexpr char kEmbeddedImagePath[] = ":/wirelog/wirlg000.dll";

enum class WriteOutcome { Written, NameTaken, Failed };

// Exclusive creation: a file that appeared since the existence test is never overwritten.
WriteOutcome WriteNewFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return QFileInfo(path).isFile() ? WriteOutcome::NameTaken : WriteOutcome::Failed;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return WriteOutcome::Written;
    file.remove();
    return WriteOutcome::Failed;
}

} // namespace

SupportLibraryDeployment DefaultDeployment() {
    return {QDir::currentPath(), EmbeddedSupportLibrary};
}

QByteArray EmbeddedSupportLibrary() {
    const QResource resource(QString::fromLatin1(kEmbeddedImagePath));
    if (!resource.isValid())
        return {};
    return resource.uncompressedData();
}

DeployResult DeploySupportLibrary(const SupportLibraryDeployment& deployment) {
    const QString path =
        QDir(deployment.directory).filePath(QString::fromLatin1(kSupportLibraryFile));
    // Only a file (or a link to one) counts: a directory of that name is no library.
    if (QFileInfo(path).isFile())
        return DeployResult::AlreadyPresent;
    const QByteArray image = deployment.image ? deployment.image() : QByteArray();
    if (image.isEmpty())
        return DeployResult::Failed;
    switch (WriteNewFile(path, image)) {
    case WriteOutcome::Written:
        return DeployResult::Written;
    case WriteOutcome::NameTaken: // another copy of the program got there first
        return DeployResult::AlreadyPresent;
    case WriteOutcome::Failed:
        break;
    }
    return DeployResult::Failed;
}

} // namespace Wirelog
