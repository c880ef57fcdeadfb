#pragma once

#include <QString>

class Connection;
struct ConnectParams;
class QWidget;

// Opens `connection` with the connection text through
// Connection::openWaiting: the window keeps painting, and `page` takes no
// input until the connection is there or has failed (at most the connect
// timeout), so a second press cannot start a second attempt. Throws Failure
// as Connection::open does.
void openHoldingPage(QWidget *page, Connection &connection, const QString &connectionString);
void openHoldingPage(QWidget *page, Connection &connection, const ConnectParams &params);
