#pragma once

class QThreadPool;

// The one pool every crawl runs on: at most 4 crawls at once, made on first use and
// never destroyed, so quitting never waits for a walk (a closed window's walk stops itself).
QThreadPool* crawlQueue();
