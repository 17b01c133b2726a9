// The frame multiplicator's property page library.
#pragma once

// Registers CDurmixProperties with the page registry.
void RegisterDurmixPages();
