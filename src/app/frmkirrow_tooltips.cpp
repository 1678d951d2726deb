// The main window's tooltips, and what its controls tell a screen reader: each control has a
// short name, and a description that is its tooltip where it has one.

#include "clstooltip.h"
#include "digitbox.h"
#include "frmkirrow.h"
#include "knobbox.h"
#include "picturebox.h"
#include "tooltiplayout.h"

#include <QComboBox>

QList<std::pair<QWidget *, QString>> frmKirrow::TooltipTexts() const {
    return {
        {Picture6, QStringLiteral("Click to Make Call")},
        {Picture11, QStringLiteral("Kirrow Book")},
        {Picture2, QStringLiteral("Audio Wizard")},
        {Picture3, QStringLiteral("Recent Call")},
        {Picture16, QStringLiteral("Clear Current Number")},
        {Picture17, QStringLiteral("Clear Current Number one by one")},
        {Picture8, QStringLiteral("Click to End Call")},
        {Picture13, QStringLiteral("Login Server")},
        {Picture41, QStringLiteral("Hide Application to System Tray")},
        {Picture40, QStringLiteral("Close and Exit Application")},
        {cmbPhoneNo, QStringLiteral("Include International Country Code")},
    };
}

// In the desktop's tooltip colours, a framed box centred below its control, unrolling from the
// left.
void frmKirrow::CreateTooltips() {
    TT = std::make_unique<clsTooltip>();
    for (const auto &[control, text] : TooltipTexts())
        TT->AddTool(control, text, std::nullopt, std::nullopt, false, QString(), 0,
                    tooltip::OpenLeftToRight, 5, true, false, 0, 0);
}

void frmKirrow::DescribeControls() {
    const std::pair<QWidget *, const char *> names[] = {
        {Picture1, "Kirrow"},
        {Picture4, "Kirrow Web Site"},
        {Picture6, "Call"},
        {Picture8, "End Call"},
        {Picture11, "Phone Book"},
        {Picture2, "Audio Wizard"},
        {Picture3, "Recent Calls"},
        {Picture16, "Clear Number"},
        {Picture17, "Delete Last Digit"},
        {Picture13, "Login Server"},
        {Picture41, "Hide to Tray"},
        {Picture40, "Close"},
        {picMenu, "Menu"},
        {cmbPhoneNo, "Number"},
        {txtNumber, "Number"},
        {picWave[0], "Speaker Volume"},
        {picWave[1], "Microphone Volume"},
        {Picture20, "1"},
        {Picture21, "2"},
        {Picture22, "3"},
        {Picture25, "4"},
        {Picture26, "5"},
        {Picture27, "6"},
        {Picture30, "7"},
        {Picture31, "8"},
        {Picture32, "9"},
        {Picture35, "*"},
        {Picture36, "0"},
        {Picture37, "#"},
    };
    for (const auto &[control, name] : names)
        control->setAccessibleName(QLatin1String(name));
    for (const auto &[control, text] : TooltipTexts())
        control->setAccessibleDescription(text);
    txtNumber->setAccessibleDescription(cmbPhoneNo->accessibleDescription());
    for (PictureBox *key : {Picture20, Picture21, Picture22, Picture25, Picture26, Picture27,
                            Picture30, Picture31, Picture32, Picture35, Picture36, Picture37})
        key->setAccessibleDescription(QStringLiteral("Dial pad key"));
    Picture1->setAccessibleDescription(QStringLiteral("Drag to move the window"));
    Picture4->setAccessibleDescription(QStringLiteral("Opens Kirrow's page in your browser"));
    picMenu->setAccessibleDescription(picMenu->toolTip());
    picWave[0]->setAccessibleDescription(QStringLiteral("Drag to set the speaker volume"));
    picWave[1]->setAccessibleDescription(QStringLiteral("Drag to set the microphone volume"));
}
