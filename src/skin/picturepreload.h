#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace skin {

// The pictures a window shows as it first appears, decoded on a thread of their own while Qt
// starts: decoding some thirty of them on the GUI thread held the login dialog back by about two
// milliseconds. startDecodingPictures may be called before the application object exists; a
// picture is then taken, once, with takePicture, which waits for the thread the first time and
// gives a null picture for one the thread did not decode: the caller then loads that one itself,
// as it would without the thread.
void startDecodingPictures(const QStringList &paths);
QImage takePicture(const QString &path);

} // namespace skin
