#pragma once

#include "cards/cardreport.h"

#include <QString>

// Prepares the three cards for the next dive: optional wipe, optional sync
// configuration, marker files. Runs to its end on the calling thread.
void prepareCards(const QString& card1, const QString& card2, const QString& card3, bool eraseCards,
                  bool createSyncConfig, const CardReport& report);
