#pragma once

#include <memory>

class Connection;
class Desktop;
class QListWidget;
class Trap;

// Fills `list` with the tables of the open connection's database, as the
// server lists them (steps 112 to 130 of the caller's trap), lets go of the
// connection (a shared one stays open for the pages) and selects the first
// entry. A failure to list the tables is
// reported once and leaves the list empty; a failure while reading stops
// the fill after its report.
void FillTableList(Trap &trap, std::shared_ptr<Connection> connection, QListWidget *list, Desktop &desktop);

// Whether FillTableList is filling `list` now (it lets window events run
// between entries). A second fill of the same list meanwhile does nothing.
bool isFillingTableList(const QListWidget *list);
