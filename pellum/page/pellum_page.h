// The relabelling filter's property page library.
#pragma once

// Registers NullIPProperties with the page registry.
void RegisterPellumPages();
