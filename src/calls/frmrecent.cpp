#include "frmrecent.h"

#include "picturebox.h"
#include "picturepreload.h"
#include "recentlog.h"
#include "region.h"
#include "skinnedform.h"
#include "skinresources.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

namespace {
constexpr int kClientWidthTwips = 5175;
constexpr int kClientHeightTwips = 4125;
const QColor kListColour(224, 224, 224);
// A line longer than this (a log edited by hand) shows cut, so that painting it stays quick.
constexpr qsizetype kShownCharacters = 200;
} // namespace

frmRecent::frmRecent(QComboBox *numberBox, const QString &path, QWidget *parent)
    : QDialog(parent), m_numberBox(numberBox), m_path(path) {
    CreateControls();
    Form_Load();
}

void frmRecent::CreateControls() {
    setUpSkinnedDialog(this, QStringLiteral("frmRecent"), QStringLiteral("Recent Calls"),
                       kClientWidthTwips, kClientHeightTwips);

    Picture1 = placeTwips(new PictureBox(this), 0, 0, 3240, 3420);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Recentlist = placeTwips(new QListWidget(Picture1), 300, 480, 2655, 1620);
    Recentlist->setObjectName(QStringLiteral("Recentlist"));
    Recentlist->setSelectionMode(QAbstractItemView::SingleSelection);
    // A whole line, "number--Duration: h:m:s", fits the list's width.
    QFont small = Recentlist->font();
    small.setPixelSize(11);
    small.setStretch(QFont::SemiCondensed);
    Recentlist->setFont(small);
    setColour(Recentlist, QPalette::Base, kListColour);
    setColour(Recentlist, QPalette::Text, Qt::black);
    CLOSE = placeTwips(new QPushButton(QStringLiteral("CLOSE"), Picture1), 960, 2400, 1215, 375);
    CLOSE->setObjectName(QStringLiteral("CLOSE"));
    CLOSE->setAutoDefault(false);

    connect(Recentlist, &QListWidget::itemDoubleClicked, this, &frmRecent::Recentlist_DblClick);
    connect(CLOSE, &QPushButton::clicked, this, &frmRecent::CLOSE_Click);
}

void frmRecent::Form_Load() {
    initSkinResources();
    Picture1->setPicture(skin::loadPicture(QStringLiteral(":/skin/recent.png")));
    shapeFromPicture(this, *Picture1);
    // The log is kept newest first, so its order is the list's.
    for (const QString &line : calls::readRecentCalls(m_path)) {
        auto *item = new QListWidgetItem(
            line.size() > kShownCharacters ? line.left(kShownCharacters) + QChar(0x2026) : line);
        item->setData(Qt::UserRole, line);
        Recentlist->addItem(item);
    }
}

void frmRecent::Recentlist_DblClick() {
    const QListWidgetItem *selected = Recentlist->currentItem();
    if (!selected || !selected->isSelected())
        return;
    const QString line = selected->data(Qt::UserRole).toString();
    const QString number = line.left(line.indexOf(QStringLiteral("--")));
    if (m_numberBox)
        m_numberBox->setEditText(number);
    accept();
}

void frmRecent::CLOSE_Click() {
    reject();
}
