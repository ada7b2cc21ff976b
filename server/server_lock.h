#pragma once

// The server's lock. (Being written.)
class CServerLock {};
