#include "app/mainform.h"

#include <QComboBox>
#include <QBoxLayout>
#include <QLabel>
#include <QWidget>

#include "settings/settings.h"

namespace lumora {

TMainForm::TMainForm(const std::string& settingsPath, QWidget* parent)
    : QMainWindow(parent), fSettings(std::make_unique<Settings>(settingsPath)) {
  setObjectName("TMainForm");
  setWindowTitle("Lumora");

  auto* central = new QWidget(this);
  auto* page = new QVBoxLayout(central);
  auto* bar = new QHBoxLayout;
  page->addLayout(bar);
  page->addStretch(1);
  ElementListBox = new QComboBox(central);
  ElementListBox->setObjectName("ElementListBox");
  ElementListBox->setEditable(false);
  ElementListBox->setMinimumContentsLength(12);
  bar->addWidget(new QLabel("Element", central));
  bar->addWidget(ElementListBox);
  bar->addStretch(1);
  setCentralWidget(central);
  resize(1024, 700);  // the size where no window manager maximises it

  FillElementList();
}

TMainForm::~TMainForm() = default;

// Element sections in file order; _Parameters DefaultAtom selects one when
// it is a valid index, otherwise nothing is selected.
void TMainForm::FillElementList() {
  for (const auto& name : fSettings->ElementNames())
    ElementListBox->addItem(QString::fromLocal8Bit(name.c_str()));
  const int index = fSettings->ReadInteger("_Parameters", "DefaultAtom", 0);
  ElementListBox->setCurrentIndex(index >= 0 && index < ElementListBox->count() ? index : -1);
}

}  // namespace lumora
