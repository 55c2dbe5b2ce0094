#include "sim/InstrumentWindow.h"

#include "sim/VirtualInstrument.h"
#include "sim/commands/DatabaseCommands.h"
#include "sim/commands/FirmwareLoader.h"
#include "sim/commands/MeasureCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TInstrumentWindow::TInstrumentWindow(TVirtualInstrument *instrument, QWidget *parent)
    : QWidget(parent, Qt::Window), m_instrument(instrument)
{
    setWindowTitle(QStringLiteral("Виртуальный прибор"));
    auto *layout = new QVBoxLayout(this);

    auto *lineBox = new QGroupBox(QStringLiteral("ТАВЕЛОН"), this);
    auto *form = new QFormLayout(lineBox);
    m_power = new QCheckBox(QStringLiteral("включен"), lineBox);
    m_power->setChecked(instrument->powered());
    m_power->setToolTip(QStringLiteral("Питание прибора: линия CTS компьютера."));
    auto *powerRow = new QHBoxLayout;
    powerRow->addWidget(m_power);
    TInstrumentLoader *loader = loaderOf(*instrument);
    if (loader) {
        m_stylus = new QCheckBox(QStringLiteral("Указка на экране"), lineBox);
        m_stylus->setChecked(loader->stylusHeld());
        m_stylus->setToolTip(QStringLiteral("Включенный с указкой на экране, прибор запускает свой загрузчик."));
        powerRow->addWidget(m_stylus);
        connect(m_stylus, &QCheckBox::toggled, loader, &TInstrumentLoader::setStylusHeld);
        connect(loader, &TInstrumentLoader::stylusChanged, m_stylus, &QCheckBox::setChecked);
    }
    powerRow->addStretch();
    form->addRow(QStringLiteral("Питание:"), powerRow);

    m_speed = new QComboBox(lineBox);
    for (int i = 0; i < TVirtualInstrument::speedCount; ++i)
        m_speed->addItem(QString::number(TVirtualInstrument::baudOfIndex(i)));
    m_speed->setCurrentIndex(instrument->speedIndex());
    m_speed->setToolTip(QStringLiteral("Скорость обмена, на которой прибор слушает линию."));
    form->addRow(QStringLiteral("Скорость:"), m_speed);

    m_silent = new QCheckBox(QStringLiteral("Не отвечать"), lineBox);
    m_silent->setToolTip(QStringLiteral("Прибор слышит команды, но ничего не посылает."));
    form->addRow(QString(), m_silent);

    m_lastCommand = new QLabel(QStringLiteral("—"), lineBox);
    form->addRow(QStringLiteral("Команда:"), m_lastCommand);

    m_database = new QLabel(lineBox);
    form->addRow(QStringLiteral("БД ТС:"), m_database);
    if (TInstrumentDatabase *database = databaseOf(*instrument)) {
        connect(database, &TInstrumentDatabase::changed, this, &TInstrumentWindow::showDatabase);
        showDatabase();
    }
    layout->addWidget(lineBox);

    if (loader) {
        // The instrument's own small screen: what its program or its loader shows.
        m_screen = new QLabel(this);
        m_screen->setAccessibleName(QStringLiteral("Экран прибора"));
        m_screen->setMinimumSize(230, 150);
        m_screen->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_screen->setMargin(6);
        m_screen->setStyleSheet(QStringLiteral("QLabel { background: #10205a; color: #e8f0ff;"
                                               " border: 2px solid #8090b0; font-family: monospace; }"));
        const auto showScreen = [this](const QStringList &lines) { m_screen->setText(lines.join(QLatin1Char('\n'))); };
        showScreen(loader->screen());
        connect(loader, &TInstrumentLoader::screenChanged, this, showScreen);
        layout->addWidget(m_screen);
    }

    m_actions = new QVBoxLayout;
    layout->addLayout(m_actions);
    if (TInstrumentMeasurements *measurements = measurementsOf(*instrument)) {
        auto *measure = new QPushButton(QStringLiteral("Измерить планшет"), this);
        measure->setToolTip(QStringLiteral("Новые оптические плотности, затем извещение 'G'."));
        auto *results = new QPushButton(QStringLiteral("Результаты готовы"), this);
        results->setToolTip(QStringLiteral("Новый протокол результатов, затем извещение 'g'."));
        m_actions->addWidget(measure);
        m_actions->addWidget(results);
        connect(measure, &QPushButton::clicked, measurements, &TInstrumentMeasurements::measurePlate);
        connect(results, &QPushButton::clicked, measurements, &TInstrumentMeasurements::finishResults);
    }
    layout->addStretch();

    connect(m_power, &QCheckBox::toggled, instrument, &TVirtualInstrument::setPowered);
    connect(instrument, &TVirtualInstrument::poweredChanged, m_power, &QCheckBox::setChecked);
    connect(m_silent, &QCheckBox::toggled, instrument, &TVirtualInstrument::setSilent);
    connect(instrument, &TVirtualInstrument::silentChanged, m_silent, &QCheckBox::setChecked);
    connect(m_speed, &QComboBox::activated, instrument, &TVirtualInstrument::setSpeedIndex);
    connect(instrument, &TVirtualInstrument::speedIndexChanged, m_speed, &QComboBox::setCurrentIndex);
    connect(instrument, &TVirtualInstrument::commandExecuted, this, &TInstrumentWindow::showCommand);
}

void TInstrumentWindow::showCommand(char code)
{
    const QString shown = (code >= 0x20 && code < 0x7F) ? QStringLiteral("'%1'").arg(QChar(code))
                                                       : QStringLiteral("0x%1").arg(quint8(code), 2, 16, QLatin1Char('0'));
    m_lastCommand->setText(QStringLiteral("%1 (%2 бод)").arg(shown).arg(m_instrument->baud()));
}

void TInstrumentWindow::showDatabase()
{
    if (const TInstrumentDatabase *database = databaseOf(*m_instrument))
        m_database->setText(QStringLiteral("%1 стр., %2 ТС").arg(database->pageCount()).arg(database->testSystemCount()));
}

QString TInstrumentWindow::databaseText() const
{
    return m_database->text();
}
