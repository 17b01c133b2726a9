// The pathology detector's property page, registered with the filter host's
// page registry by class identifier.
#pragma once

// Makes the page creatable through fh::CreatePropertyPage.
void RegisterOstrelPages();
