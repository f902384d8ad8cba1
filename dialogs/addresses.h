#pragma once

namespace kelvora {

// The program's home page (Help > "Visit Website..." and the About box's
// "Website" button) and the support mail address (the About box's "Support").
inline constexpr const char *kHomePageUrl = "http://kelvora.example/";
inline constexpr const char *kSupportAddress = "support@kelvora.example";

} // namespace kelvora
