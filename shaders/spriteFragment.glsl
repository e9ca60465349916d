#version 330

uniform sampler2DRect spriteTexture;

noperspective in vec2 textureCoordinate;

out vec4 fragColour;

void main() {
    fragColour = texture(spriteTexture, textureCoordinate);
}
