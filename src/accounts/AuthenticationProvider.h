#pragma once

// The sign-in method of a running sign-in.
enum class AuthenticationProvider {
    google,
    microsoft,
    apple,
    email,
};
