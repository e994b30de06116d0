#include "player/config/Aboutform.h"
#include "player/config/WindowFont.h"

#include "engine/include/IPlayer.h"
#include "player/config/Debug.h"
#include "player/config/Helpdoc.h"
#include "player/config/WindowColours.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include <cstring>
#include <vector>

namespace {

constexpr const char* kVersion = "zarnplayer ver 0.3.5";
constexpr std::uint32_t kInfoSize = 1024;

QLabel* centred(QWidget* parent, const char* name, int y) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(4, y, 225, 12);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// Shift+Tab on a label whose one link starts its text would mark that same
// link again and again (the label looks back from the link's own start);
// it goes to the control before the label instead.
class BacktabOut final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() != Qt::Key_Backtab &&
            !(k->key() == Qt::Key_Tab && (k->modifiers() & Qt::ShiftModifier)))
            return false;
        auto* label = static_cast<QWidget*>(watched);
        for (QWidget* w = label->previousInFocusChain(); w != label; w = w->previousInFocusChain())
            if (w->window() == label->window() && w->isVisible() && w->isEnabled() &&
                (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::BacktabFocusReason);
                return true;
            }
        return false;
    }
};

using InfoCall = HRESULT (IPlayer::*)(char**, std::uint32_t*);

// The engine writes into our zeroed buffer; only our own buffer is read,
// and never past its end, whatever the engine did with the pointer or size.
HRESULT infoText(IPlayer* player, InfoCall call, QString& text) {
    std::vector<char> buffer(kInfoSize, '\0');
    char* p = buffer.data();
    std::uint32_t size = kInfoSize;
    HRESULT hr = (player->*call)(&p, &size);
    text = QString::fromUtf8(buffer.data(),
                             static_cast<qsizetype>(strnlen(buffer.data(), buffer.size())));
    return hr;
}

QString helpFile() {
    auto doc = HelpDocument();
    return doc ? QString::fromStdString(*doc) : QString();
}

} // namespace

TAbout::TAbout(QWidget* parent, IPlayer* player)
    : TAbout(parent, player, QStringLiteral(ZARN_CONTACT_ADDRESS), helpFile()) {}

TAbout::TAbout(QWidget* parent, IPlayer* player, const QString& contact, const QString& helpFile)
    : QDialog(parent) {
    setObjectName("TAbout");
    setFont(WindowFont(font()));
    setFixedSize(240, 183);

    Label1 = centred(this, "Label1", 8);
    Label2 = centred(this, "Label2", 28);
    Label2->setText("Copyright (C) 2001-2025");
    Label3 = centred(this, "Label3", 44);
    Label3->setText("the zarnplayer developers");
    Label5 = centred(this, "Label5", 60);
    Label4 = centred(this, "Label4", 76);
    if (helpFile.isEmpty())
        Label5->hide();
    else
        setLink(Label5, QUrl::fromLocalFile(helpFile).toString(), "zarnplayer help");
    if (contact.isEmpty())
        Label4->hide();
    else
        setLink(Label4, "mailto:" + contact, contact);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(8, 100, 225, 53);
    Memo1->setAccessibleName(tr("Version information"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    Memo1->setPalette(pal);

    Button1 = new QPushButton("&Close", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(76, 156, 75, 25);
    Button1->setDefault(true);
    // The dialog opens on Close, not on the first link: Tab reaches the
    // links with one of them marked, ready for Enter.
    Button1->setFocus();
    connect(Button1, &QPushButton::clicked, this, &TAbout::Button1Click);
    auto* backtab = new BacktabOut(this);
    Label4->installEventFilter(backtab);
    Label5->installEventFilter(backtab);
    connect(Label5, &QLabel::linkActivated, this, &TAbout::Label5Click);
    connect(Label4, &QLabel::linkActivated, this, &TAbout::Label5Click);

    FitDialogToFont(*this, QSize(240, 183));
    FormCreate(player);
}

TAbout::~TAbout() {
    FormDestroy();
}

void TAbout::Execute(QWidget* parent, IPlayer* player) {
    TAbout dialog(parent, player);
    dialog.exec();
}

void TAbout::setLink(QLabel* label, const QString& url, const QString& caption) {
    label->setTextFormat(Qt::RichText);
    // Blue, made lighter where the window is dark (high contrast) so that
    // the link stays readable.
    const QColor ink = ReadableOn(QColor(0, 0, 255), label->palette().color(QPalette::Window), 4.5);
    label->setText(QString("<a href=\"%1\" style=\"color:%2; text-decoration:underline\">"
                           "%3</a>")
                       .arg(url.toHtmlEscaped(), ink.name(), caption.toHtmlEscaped()));
    label->setToolTip(url);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(false);
}

void TAbout::FormCreate(IPlayer* player) {
    LogSink().LogTrace(LOG_SOURCE, "TAbout::FormCreate(TObject *Sender)");
    setWindowTitle(QString("Version Info - ") + kVersion);
    Label1->setText(kVersion);
    Memo1->appendPlainText(QString(kVersion) + " (2001/10/5)");
    if (!player)
        return;
    QString text;
    infoText(player, &IPlayer::GetInfoText, text);
    Memo1->appendPlainText(text);
    if (infoText(player, &IPlayer::GetExtraInfoText, text) == S_OK)
        Memo1->appendPlainText(text);
    Memo1->moveCursor(QTextCursor::Start);
}

void TAbout::FormDestroy() {
    LogSink().LogTrace(LOG_SOURCE, "TAbout::FormDestroy(TObject *Sender)");
}

void TAbout::Label5Click(const QString& link) {
    QDesktopServices::openUrl(QUrl(link));
}

void TAbout::Button1Click() {
    accept();
}
