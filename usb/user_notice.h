#pragma once

// The link's own message box (the writer refusing to restart): modal, one OK button,
// returns when the user has closed it. The host provides it.
class IUserNotice {
public:
    virtual ~IUserNotice() = default;
    virtual void ShowNotice(const char* text) = 0;
};
