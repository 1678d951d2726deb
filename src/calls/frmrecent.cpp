#include "frmrecent.h"

#include "picturebox.h"
#include "recentlog.h"
#include "region.h"
#include "skinresources.h"
#include "twips.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>

using platform::twipsRect;
using platform::twipsToPixelsX;
using platform::twipsToPixelsY;

namespace {
constexpr int kClientWidthTwips = 5175;
constexpr int kClientHeightTwips = 4125;
const QColor kListColour(224, 224, 224);
} // namespace

frmRecent::frmRecent(QComboBox *numberBox, const QString &path, QWidget *parent)
    : QDialog(parent), m_numberBox(numberBox), m_path(path) {
    CreateControls();
    Form_Load();
}

void frmRecent::CreateControls() {
    setObjectName(QStringLiteral("frmRecent"));
    setWindowTitle(QStringLiteral("Form1"));
    // Shaped from its picture, with no frame a window manager would draw around the outline.
    setWindowFlag(Qt::FramelessWindowHint);
    setFixedSize(twipsToPixelsX(kClientWidthTwips), twipsToPixelsY(kClientHeightTwips));

    Picture1 = new PictureBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRect(0, 0, 3240, 3420));
    Recentlist = new QListWidget(Picture1);
    Recentlist->setObjectName(QStringLiteral("Recentlist"));
    Recentlist->setGeometry(twipsRect(300, 480, 2655, 1620));
    Recentlist->setSelectionMode(QAbstractItemView::SingleSelection);
    // A whole line, "number--Duration: h:m:s", fits the list's width.
    QFont small = Recentlist->font();
    small.setPixelSize(11);
    small.setStretch(QFont::SemiCondensed);
    Recentlist->setFont(small);
    QPalette listPalette = Recentlist->palette();
    listPalette.setColor(QPalette::Base, kListColour);
    listPalette.setColor(QPalette::Text, Qt::black);
    Recentlist->setPalette(listPalette);
    CLOSE = new QPushButton(QStringLiteral("CLOSE"), Picture1);
    CLOSE->setObjectName(QStringLiteral("CLOSE"));
    CLOSE->setGeometry(twipsRect(960, 2400, 1215, 375));
    CLOSE->setAutoDefault(false);

    connect(Recentlist, &QListWidget::itemDoubleClicked, this, &frmRecent::Recentlist_DblClick);
    connect(CLOSE, &QPushButton::clicked, this, &frmRecent::CLOSE_Click);
}

void frmRecent::Form_Load() {
    initSkinResources();
    Picture1->setPicture(QImage(QStringLiteral(":/skin/recent.png")));
    shapeFromPicture(this, Picture1->picture());
    // The log is kept newest first, so its order is the list's.
    Recentlist->addItems(calls::readRecentCalls(
        m_path, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }));
}

void frmRecent::Recentlist_DblClick() {
    const QListWidgetItem *selected = Recentlist->currentItem();
    if (!selected || !selected->isSelected())
        return;
    const QString number = selected->text().split(QStringLiteral("--")).first();
    if (m_numberBox)
        m_numberBox->setEditText(number);
    accept();
}

void frmRecent::CLOSE_Click() {
    reject();
}
