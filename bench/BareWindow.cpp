// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The toolkit's floor for bench_program: a bare window with a menu, labels, a button and a
// port list, as small as a window of this kind can be, started and measured like Orvel; given
// WIDTH HEIGHT, it is made that size (Orvel's window's, so that both draw as many pixels).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Bare window");
  auto* central = new QWidget(&window);
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(new QLabel("SWR 1.5", central));
  layout->addWidget(new QPushButton("TUNE", central));
  auto* ports = new QComboBox(central);
  ports->addItem("COM1");
  layout->addWidget(ports);
  window.menuBar()->addMenu("File")->addAction("Exit", &application, &QApplication::quit);
  window.setCentralWidget(central);
  if (argc > 2) window.resize(std::atoi(argv[1]), std::atoi(argv[2]));
  window.show();
  return QApplication::exec();
}
