#pragma once
// Creates a form's controls at their design places, each named as in the form's table, so that
// the window and the dialog build their controls the same way.
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <string_view>

#include "widgets/TwipLayout.h"

template <class Form>
class ControlFactory {
 public:
  using RectOf = const TwipRect& (*)(std::string_view name);
  ControlFactory(Form* form, RectOf rectOf) : form_(form), rectOf_(rectOf) {}

  // Gives the control its name (also its object name) and its design rectangle.
  void Place(QWidget* control, const char* name) const {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(rectOf_(name).Pixels());
  }
  void Button(QPushButton*& button, const char* name, const QString& caption, void (Form::*handler)()) const {
    button = new QPushButton(caption, form_);
    Place(button, name);
    QObject::connect(button, &QPushButton::clicked, form_, handler);
  }
  void Label(QLabel*& label, const char* name, const QString& caption) const {
    label = new QLabel(caption, form_);
    Place(label, name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }

 private:
  Form* form_;
  RectOf rectOf_;
};
