#pragma once

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointF>
#include <QPointer>
#include <QString>

#include <functional>

class PictureBox;

namespace skin {

// Picture buttons that light up under the pointer. The lit button holds the pointer (a grab)
// until the pointer leaves it, which is how it learns that the pointer left: one flag serves all
// the buttons, as only one can be under the pointer.
class HoverButtons : public QObject {
    Q_OBJECT
public:
    // pictures gives the picture of a name, for the normal and lit looks.
    explicit HoverButtons(std::function<QPixmap(const QString &)> pictures,
                          QObject *parent = nullptr);
    ~HoverButtons() override;

    // mouseUpStep: a release over the button lights it again and takes the pointer back, for a
    // button that stays where it is after its click (a dialog's button does not).
    void add(PictureBox *box, const QString &normal, const QString &lit, bool mouseUpStep);

    // Puts a lit button back and lets the pointer go: a modal dialog gets no pointer while a
    // button holds it.
    void EndHover();
    bool Hovering() const { return blnHovering; }

private:
    struct ImageButton {
        PictureBox *box;
        QString normal;
        QString lit;
        bool mouseUpStep;
    };
    void ImageButton_MouseMove(const ImageButton &B, QPointF position);
    void ImageButton_MouseUp(const ImageButton &B);

    std::function<QPixmap(const QString &)> m_pictures;
    QList<ImageButton> m_buttons;
    bool blnHovering = false;
    // Guarded: a window being destroyed may delete its buttons first.
    QPointer<PictureBox> m_capturing;
};

} // namespace skin
