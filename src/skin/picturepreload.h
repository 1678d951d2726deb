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
// The picture at path: the one decoded ahead when there is one, else decoded now. Pictures are
// decoded by their name's suffix (png, bmp) with the readers Qt has built in: left to find the
// type itself, Qt's image reader loads every image plug-in installed (GIF, ICO, JPEG with
// libjpeg...) to ask each whether it knows the file. Anything else, or a file whose content is
// not what its suffix says, is decoded as Qt finds it.
QImage loadPicture(const QString &path);

} // namespace skin
