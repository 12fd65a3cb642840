#include "highlight/Click.h"

Click::Click(QObject* parent) : QObject(parent) {}

void Click::setClicked(bool clicked) {
    if (clicked == m_isClicked)
        return;
    m_isClicked = clicked;
    emit isClickedChanged(clicked);
}
