// The options dialog: the option switches, the skip lengths, loudness
// levelling and its target, and the file
// types the desktop opens with the player. Created for each showing; OK applies, Close discards.
#pragma once

#include "player/config/Extention.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TOptions;
struct IPlayer;

class TOption final : public QDialog, private TExtList {
    Q_OBJECT
public:
    TOption(QWidget* parent, IPlayer* player);
    TOption(QWidget* parent, IPlayer* player, TExtentions& table, TOptions& options);
    ~TOption() override;

    // Shows the dialog modally; true when the user pressed OK.
    static bool Execute(QWidget* parent, IPlayer* player);

private slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void ListView1ItemChanged(QTreeWidgetItem* item, int column);

private:
    void FormCreate();
    void FormDestroy();
    void CheckAll(bool checked);

    void BeginUpdate() override;
    void EndUpdate() override;
    void Clear() override;
    int AddRow(const std::string& caption, const std::string& explanation, TExt* ext,
               bool checked) override;
    bool Checked(int row) const override;

    IPlayer* player_;
    TExtentions& table_;
    TOptions& options_;
    bool updating_ = false;

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    QLabel* Label2;
    QSpinBox* SpinEdit1; // skip Back, seconds
    QLabel* Label3;
    QSpinBox* SpinEdit2;  // skip Forward, seconds
    QCheckBox* CheckBox5; // level loudness
    QComboBox* ComboBox1; // its target
    QTreeWidget* ListView1;
    QLabel* Label1; // what the desktop overrides, when it does
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
};
