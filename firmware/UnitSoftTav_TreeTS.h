#pragma once
// The firmware frame of the page "ПО прибора": created on the first visit of its page.

#include <QWidget>

class TFrameSoftTav : public QWidget
{
    Q_OBJECT
public:
    explicit TFrameSoftTav(QWidget *parent = nullptr) : QWidget(parent) {}
};
