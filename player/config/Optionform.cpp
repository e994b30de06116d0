#include "player/config/Optionform.h"
#include "player/config/WindowFont.h"

#include "platform/classesroot/classesroot.h"
#include "platform/classesroot/xdg.h"
#include "player/config/Debug.h"
#include "player/config/Option.h"
#include "player/loudness/Figure.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>

namespace {
constexpr const char* kVersion = "zarnplayer ver 0.3.5";
}

TOption::TOption(QWidget* parent, IPlayer* player)
    : TOption(parent, player, Extentions(), Options()) {}

TOption::TOption(QWidget* parent, IPlayer* player, TExtentions& table, TOptions& options)
    : QDialog(parent), player_(player), table_(table), options_(options) {
    setObjectName("TOption");
    setFont(WindowFont(font()));
    setFixedSize(337, 278);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(4, 4, 329, 237);
    PageControl1->setAccessibleName(tr("Option pages"));

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    // The boxes span the page: this system's font is wider than the one the
    // old sizes were made for, and a cut-off label hides what it switches.
    CheckBox1 = new QCheckBox("accerate speed when it's slient.", TabSheet1);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(8, 12, 317, 17);
    CheckBox2 = new QCheckBox("analyze file info when added.", TabSheet1);
    CheckBox2->setObjectName("CheckBox2");
    CheckBox2->setGeometry(8, 32, 317, 17);
    CheckBox3 = new QCheckBox("smooth splices (better sound, a little more CPU).", TabSheet1);
    CheckBox3->setObjectName("CheckBox3");
    CheckBox3->setGeometry(8, 52, 317, 17);
    CheckBox4 = new QCheckBox("remember position and rate of each file.", TabSheet1);
    CheckBox4->setObjectName("CheckBox4");
    CheckBox4->setGeometry(8, 72, 317, 17);
    Label2 = new QLabel("skip back (seconds):", TabSheet1);
    Label2->setObjectName("Label2");
    Label2->setGeometry(8, 104, 180, 17);
    SpinEdit1 = new QSpinBox(TabSheet1);
    SpinEdit1->setObjectName("SpinEdit1");
    SpinEdit1->setGeometry(192, 100, 73, 24);
    SpinEdit1->setRange(TOptions::kSkipMin, TOptions::kSkipMax);
    Label2->setBuddy(SpinEdit1);
    Label3 = new QLabel("skip forward (seconds):", TabSheet1);
    Label3->setObjectName("Label3");
    Label3->setGeometry(8, 132, 180, 17);
    SpinEdit2 = new QSpinBox(TabSheet1);
    SpinEdit2->setObjectName("SpinEdit2");
    SpinEdit2->setGeometry(192, 128, 73, 24);
    SpinEdit2->setRange(TOptions::kSkipMin, TOptions::kSkipMax);
    Label3->setBuddy(SpinEdit2);
    CheckBox5 = new QCheckBox("Level loudness to:", TabSheet1);
    CheckBox5->setObjectName("CheckBox5");
    CheckBox5->setGeometry(8, 164, 180, 17);
    ComboBox1 = new QComboBox(TabSheet1);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(192, 160, 105, 24);
    ComboBox1->setAccessibleName(tr("Loudness target"));
    for (int target : loudness::Targets)
        ComboBox1->addItem(QString::number(target) + " LUFS", target);
    connect(CheckBox5, &QCheckBox::toggled, ComboBox1, &QWidget::setEnabled);
    PageControl1->addTab(TabSheet1, "Options");

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    ListView1 = new QTreeWidget(TabSheet2);
    ListView1->setObjectName("ListView1");
    ListView1->setGeometry(8, 8, 233, 193);
    ListView1->setHeaderLabels({"Extention", "Explanation"});
    ListView1->setAccessibleName(tr("File types played by zarnplayer"));
    ListView1->setColumnWidth(0, 64);
    ListView1->setColumnWidth(1, 160);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible when the list loses the focus.
    QPalette pal = ListView1->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(pal);
    Label1 = new QLabel(TabSheet2);
    Label1->setObjectName("Label1");
    Label1->setGeometry(244, 8, 75, 128);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->hide();
    Button3 = new QPushButton("Select&All", TabSheet2);
    Button3->setObjectName("Button3");
    Button3->setGeometry(244, 140, 75, 25);
    Button4 = new QPushButton("&Clear", TabSheet2);
    Button4->setObjectName("Button4");
    Button4->setGeometry(244, 172, 75, 25);
    PageControl1->addTab(TabSheet2, "Extentions");

    Button1 = new QPushButton("&OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(168, 248, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton("&Close", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(252, 248, 75, 25);

    connect(Button1, &QPushButton::clicked, this, &TOption::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TOption::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TOption::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TOption::Button4Click);
    connect(ListView1, &QTreeWidget::itemChanged, this, &TOption::ListView1ItemChanged);

    FitDialogToFont(*this, QSize(337, 278));
    FormCreate();
}

TOption::~TOption() {
    FormDestroy();
}

bool TOption::Execute(QWidget* parent, IPlayer* player) {
    TOption dialog(parent, player);
    return dialog.exec() == QDialog::Accepted;
}

void TOption::FormCreate() {
    LogSink().LogTrace(LOG_SOURCE, "TOption::FormCreate(TObject *Sender)");
    table_.Fill(*this);
    setWindowTitle(QString("Option - ") + kVersion);
    CheckBox1->setChecked(options_.SkipSilent != 0);
    CheckBox2->setChecked(options_.AnalyzeFileInfo != 0);
    CheckBox3->setChecked(options_.SmoothSplices != 0);
    CheckBox4->setChecked(options_.RememberFiles != 0);
    SpinEdit1->setValue(options_.SkipBack);
    SpinEdit2->setValue(options_.SkipForward);
    CheckBox5->setChecked(options_.LevelLoudness != 0);
    ComboBox1->setEnabled(options_.LevelLoudness != 0);
    ComboBox1->setCurrentIndex(std::max(0, ComboBox1->findData(options_.LoudnessTarget)));

    QStringList notices;
    for (const std::string& n : table_.Notices())
        notices << QString::fromStdString(n);
    if (!notices.isEmpty()) {
        Label1->setText("Your desktop's own defaults come first for some types. "
                        "Point here for details.");
        Label1->setToolTip(notices.join("\n"));
        Label1->show();
    }
}

void TOption::FormDestroy() {
    table_.Detach(*this);
    LogSink().LogTrace(LOG_SOURCE, "TOption::FormDestroy(TObject *Sender)");
}

void TOption::Button1Click() {
    try {
        table_.Apply();
    } catch (const classesroot::Error& e) {
        // The rows before the refused one are done; the dialog stays open so
        // the user can see the marks, try again or close.
        QMessageBox::warning(this, windowTitle(),
                             QString("The file types could not all be changed.\n\n%1")
                                 .arg(QString::fromStdString(e.what())));
        return;
    }
    accept();
    options_.SkipSilent = CheckBox1->isChecked() ? 1 : 0;
    options_.AnalyzeFileInfo = CheckBox2->isChecked() ? 1 : 0;
    options_.SmoothSplices = CheckBox3->isChecked() ? 1 : 0;
    options_.RememberFiles = CheckBox4->isChecked() ? 1 : 0;
    options_.SkipBack = SpinEdit1->value();
    options_.SkipForward = SpinEdit2->value();
    options_.LevelLoudness = CheckBox5->isChecked() ? 1 : 0;
    options_.LoudnessTarget = ComboBox1->currentData().toInt();
    options_.Apply(player_);
}

void TOption::Button2Click() {
    reject();
}

void TOption::Button3Click() {
    CheckAll(true);
}

void TOption::Button4Click() {
    CheckAll(false);
}

void TOption::CheckAll(bool checked) {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

// Rows the desktop keeps as one follow each other's check mark.
void TOption::ListView1ItemChanged(QTreeWidgetItem* item, int column) {
    if (updating_ || column != 0)
        return;
    auto* ext = static_cast<TExt*>(item->data(0, Qt::UserRole).value<void*>());
    if (!ext)
        return;
    int index = static_cast<int>(ext - &table_[0]);
    updating_ = true;
    for (int other : table_.Linked(index)) {
        int row = table_[other].Row;
        if (row >= 0 && row < ListView1->topLevelItemCount())
            ListView1->topLevelItem(row)->setCheckState(0, item->checkState(0));
    }
    updating_ = false;
}

void TOption::BeginUpdate() {
    updating_ = true;
    ListView1->setUpdatesEnabled(false);
}

void TOption::EndUpdate() {
    ListView1->setUpdatesEnabled(true);
    updating_ = false;
}

void TOption::Clear() {
    ListView1->clear();
}

int TOption::AddRow(const std::string& caption, const std::string& explanation, TExt* ext,
                    bool checked) {
    auto* item = new QTreeWidgetItem(
        ListView1, {QString::fromStdString(caption), QString::fromStdString(explanation)});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(ext)));
    // The type the desktop associates, for the reader who wants to know.
    if (const auto mime = classesroot::XdgRoot::MimeTypeOf(caption))
        for (int column : {0, 1})
            item->setToolTip(column, QString::fromStdString(*mime));
    return ListView1->indexOfTopLevelItem(item);
}

bool TOption::Checked(int row) const {
    QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item && item->checkState(0) == Qt::Checked;
}
