// Display lists, textures and the per-frame renderer.
#pragma once
#include <cstddef>
#include <cstdint>

void BuildMorphLists();   // 50 supershape lists into MorphLists
void BuildCubeLists();    // CubeList and CubeEdgeList
int32_t BuildTextureSet();  // ten textures and FloorList; returns 0
// Compiles FloorList: wrap parameters (acting on the texture bound when the
// list runs), then the bind of FloorTexture, then the 80 x 80 tiled quad.
// Called by BuildTextureSet once FloorTexture has its name.
void BuildFloorList();
// Decodes `length` bytes of an embedded image into image 1, reads it back and
// uploads it as 256 x 256 RGB into `texture`; white when it cannot be decoded.
int32_t MakeTextureFromImage(const uint8_t* bytes, size_t length, uint32_t texture);
void RenderFrame();
void DrawFloor();
