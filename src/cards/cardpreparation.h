#pragma once

#include "cards/cardreport.h"

#include <QString>

// Why the path may not be prepared as a card, empty when it may: only the
// root of a whole file system that could be a card (not the system's, not
// read-only, at most 128 GiB) is wiped or given marker files.
QString cardScopeProblem(const QString& path);

// Prepares the three cards for the next dive: optional wipe, optional sync
// configuration, marker files. Runs to its end on the calling thread.
void prepareCards(const QString& card1, const QString& card2, const QString& card3, bool eraseCards,
                  bool createSyncConfig, const CardReport& report);
