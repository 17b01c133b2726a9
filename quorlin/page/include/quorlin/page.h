// The property page of the MDR tracking filter.
#pragma once

// Registers CQuorlinProperties under CLSID_QuorlinProperties.
void RegisterQuorlinPages();
