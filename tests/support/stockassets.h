// The register the stock-take tests count: one asset for each way a scan can be answered in a stock-take of
// "Room 4" covering group 1, and a stock-take of it.
#pragma once

#include <QString>
#include <QStringList>

class Connection;
class TestRegister;
struct StockTake;

// How each asset stands, and how a scan of it in such a stock-take is answered:
//   KLT1001  Room 4, group 1             found
//   KLT1002  " room 4 ", group 1         found (its location trimmed, its letter case aside)
//   KLT1003  Hall, group 1               recorded elsewhere
//   KLT1004  Room 4, group 1, written off written off
//   KLT1005  Room 4, group 2             not expected
//   KLT1006  Room 4, group 1             found; the tests leave it unscanned, so it is missing
//   KLT1007  no location, group 1        recorded elsewhere
//   SŁ1008   Room 4, group 1             found (an identifier that is not ASCII)
// Each with its history entry, as the program adds them; the description of KLT1001 starts with "=".
void addStockAssets(TestRegister& reg);
// Starts the stock-take "Room 4 count" of location "Room 4" and group 1 on c.
StockTake startRoom4(Connection& c);
