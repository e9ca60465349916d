#version 330

out vec4 fragColour;

void main() {
    fragColour = undefinedColour;
}
