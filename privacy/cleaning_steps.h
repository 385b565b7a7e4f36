// The four URL cache cleaning steps and the typed-address step. Each swallows
// its own failures; a stop request ends a walk between two entries.
#pragma once

#include <stop_token>

#include "url_cache.h"

void DeleteCookies(const TraceStores& stores, std::stop_token stop = {});
// Ends by clearing the history store.
void DeleteHistoryEntries(const TraceStores& stores, std::stop_token stop = {});
// Content entries only: entries with the cookie or history bit are left.
void DeleteTemporaryFiles(const TraceStores& stores, std::stop_token stop = {});
// Every entry of the content walk, whatever its type; ends by clearing the
// history store.
void FullSweep(const TraceStores& stores, std::stop_token stop = {});
void BlankTypedAddresses(const TraceStores& stores, std::stop_token stop = {});
