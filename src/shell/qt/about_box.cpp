#include "shell/qt/about_box.h"

#include "shell/qt/help_page.h"

#include "bv_version.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

namespace bv {

namespace {

constexpr int kLinkTextLimit = 259;

}  // namespace

LinkLabel::LinkLabel(const QString& text, std::function<void(const QUrl&)> open, QWidget* parent)
    : QLabel(text, parent)
    , open_(std::move(open))
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setUnderline(true);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(colours);
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::PlainText);
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QString target = text().left(kLinkTextLimit);
        if (!target.isEmpty() && open_)
            open_(QUrl(target));
    }
    QLabel::mousePressEvent(event);
}

AboutBox::AboutBox(std::function<void(const QUrl&)> open, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About BeaconVigilor"));
    auto* layout = new QGridLayout(this);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon, 0, 0, 3, 1);

    auto* about = new QLabel(QStringLiteral("BeaconVigilor\n"
                                            "Watches the availability of a list of hosts by ICMP echo.\n"
                                            "Red hosts are shown live in the red list."));
    about->setObjectName(QStringLiteral("text"));
    about->setTextFormat(Qt::PlainText);
    layout->addWidget(about, 0, 1);

    auto* version = new QLabel(versionLine());
    version->setObjectName(QStringLiteral("version"));
    layout->addWidget(version, 1, 1);

    auto* link = new LinkLabel(productPage(), std::move(open));
    link->setObjectName(QStringLiteral("link"));
    layout->addWidget(link, 2, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::reject);
    layout->addWidget(buttons, 3, 0, 1, 2, Qt::AlignHCenter);
}

QString AboutBox::versionLine()
{
    return QStringLiteral("Version %1 (%2)").arg(QLatin1String(kVersion), QStringLiteral(__DATE__));
}

QString AboutBox::productPage()
{
    // The page that ships with the program: it opens without a network.
    return helpPageUrl().toString();
}

}  // namespace bv
