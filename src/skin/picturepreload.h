#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace skin {

// The pictures a window shows as it first appears, decoded on a thread of their own while the
// window, or the one before it, is built: decoding them on the GUI thread held the login dialog
// back by a millisecond or two. startDecodingPictures needs the application object (Qt's image
// reader finds its plug-ins through it) and may be called again for other pictures; a picture
// is then taken, once, with takePicture, which waits for the thread that decodes it and gives a
// null picture for one no thread decoded: the caller then loads that one itself, as it would
// without the thread.
void startDecodingPictures(const QStringList &paths);
QImage takePicture(const QString &path);
// The picture at path: the one decoded ahead when there is one, else decoded now.
QImage loadPicture(const QString &path);

} // namespace skin
