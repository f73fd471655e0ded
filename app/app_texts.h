#pragma once

// The program's own texts that its resources carry (string table and About box).
constexpr const char* APPLICATION_TITLE = "Solenne/Brisa Update";           // string 57344
constexpr const char* ABOUT_MENU_ENTRY = "&About Solenne/Brisa Update...";  // string 101
constexpr const char* ABOUT_BOX_CAPTION = "About TesselUpdate";             // template 100
