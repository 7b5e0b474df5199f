// Particle sprites: a hundred glowing streaks drifting left to right over the floor, each
// the sprite picture scaled to a rectangle twice as wide as it is high and added to the
// frame with saturation.
#pragma once
#include <cstdint>

// Position and size in pixels, speed in pixels per show-time unit. The rectangle is
// 4 x size wide and 2 x size high, its top-left corner at (x, y).
struct Particle {
  float x;
  float y;
  float speed;
  float size;
};
static_assert(sizeof(Particle) == 16);

constexpr int32_t ParticleCount = 100;

// ParticleCount records, allocated once by init_particles and never freed.
extern Particle* Particles;
// The show time of the previous step, NoParticleStepYet until the first step. Show time is
// never negative; a show whose first frame is at time 0 must still move its particles
// from its second frame on, so 0 cannot stand for "no step yet".
constexpr float NoParticleStepYet = -1.0f;
extern float LastParticleTime;

// Allocates Particles and gives each, in array order, its random start values. Runs after
// prepare_graphics (the frame size must be known).
void init_particles();

// Draws x, y, speed and size, in that order, from the particles' random generator:
// x in [0, width), y in [150, height - 40), speed in [3, 23), size in [1, 2.5).
void respawn_particle(Particle& particle);

// Moves the particle by dt x speed; once it has passed width + 20 it comes back at x = 0
// with a new y, speed and size.
void move_particle(Particle& particle, double dt);

// One step at show time t: the first call only records t; later calls move every particle
// by the time passed since the previous call and draw it. A t below the previous one (the
// show clock wrapped after 2^32 ms) moves nothing and goes on from t.
void update_particles(float t);

// Adds SpritePicture, scaled to the rectangle from (x, y) to (x + 4 size, y + 2 size), into
// the frame buffer. Texels of value 0 are transparent. The last column and row of the frame
// are never drawn.
void draw_particle_sprite(float x, float y, float size);
