#pragma once
// Serial port driver (to be filled in).
class TCommPortDriver {
public:
    TCommPortDriver() = default;
};
