#pragma once

// The access tokens handed out by Login. (Being written.)
class CTokenRegistry {};
