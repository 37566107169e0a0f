// Creating and deleting every scene resource, shared by the program and the tools.
#pragma once

// Generates the tile grid, uploads the meshes, creates the light-mask target of the given pixel
// size, builds the four programs and loads the height map. Needs a current GL 4.6 context.
void CreateScene(int pixelWidth, int pixelHeight);

// Every GL object of the scene, from the tile grid already built: the meshes, the light-mask
// target of the given pixel size, the four programs and the height map. What CreateScene makes
// after the grid, and again in a WebGL context given back after a loss.
void CreateSceneObjects(int pixelWidth, int pixelHeight);

// The render state the first frame expects: depth testing on, the camera constants computed.
void PrepareFirstFrame();

// Deletes the programs, the tile and backdrop meshes and the light-mask target while the
// context is still current; the rest goes with the context.
void DeleteScene();
