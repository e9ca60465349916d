#version 330

uniform mat2x3 vertexTransform;

in vec2 vertexPosition;
in vec3 vertexColour;

flat out vec3 colour;

void main() {
    colour = vertexColour;
    gl_Position = vec4(vec3(vertexPosition, 1) * vertexTransform, 0, 1);
}
