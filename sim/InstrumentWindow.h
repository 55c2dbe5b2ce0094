#pragma once
// The small window "Виртуальный прибор": the virtual instrument's power switch, its
// own speed, and what it heard last.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QVBoxLayout;
class TVirtualInstrument;

class TInstrumentWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TInstrumentWindow(TVirtualInstrument *instrument, QWidget *parent = nullptr);

    QCheckBox *powerSwitch() const { return m_power; }
    /// "Указка на экране": the stylus held on the screen while the power comes on.
    QCheckBox *stylusBox() const { return m_stylus; }
    QLabel *screenLabel() const { return m_screen; }
    QComboBox *speedBox() const { return m_speed; }
    QCheckBox *silentSwitch() const { return m_silent; }
    /// "<pages> стр., <test systems> ТС" of the database the instrument holds.
    QString databaseText() const;
    /// Where later jobs of the instrument put their own buttons.
    QVBoxLayout *actionsLayout() const { return m_actions; }

private:
    void showCommand(char code);
    void showDatabase();

    TVirtualInstrument *m_instrument;
    QCheckBox *m_power;
    QCheckBox *m_stylus = nullptr;
    QLabel *m_screen = nullptr;
    QComboBox *m_speed;
    QCheckBox *m_silent;
    QLabel *m_database;
    QLabel *m_lastCommand;
    QVBoxLayout *m_actions;
};
