#include "ostrel/analysis/classifier.h"

namespace ostrel {

bool Blood1(double slot0, double slot1, double slot2) { return InsideRegion<3>(kBlood1Facets, {slot0, slot1, slot2}); }

bool Ulcer1(double slot3, double slot4, double slot5) { return InsideRegion<3>(kUlcer1Facets, {slot3, slot4, slot5}); }

bool Ulcer2(double slot6, double slot7, double slot8, double slot9) {
  return InsideRegion<4>(kUlcer2Facets, {slot6, slot7, slot8, slot9});
}

bool Blood2(double slot17, double slot18, double slot19) {
  return InsideRegion<3>(kBlood2Facets, {slot17, slot18, slot19});
}

}  // namespace ostrel
