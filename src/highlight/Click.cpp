#include "highlight/Click.h"

Click::Click(QObject* parent) : QObject(parent) {}

void Click::setClicked(bool clicked) {
    if (clicked == isClicked_)
        return;
    isClicked_ = clicked;
    emit isClickedChanged(clicked);
}
