#version 330

uniform mat2x3 vertexTransform;

in vec2 vertexPosition;
in vec2 vertexTextureCoordinate;

noperspective out vec2 textureCoordinate;

void main() {
    textureCoordinate = vertexTextureCoordinate;
    gl_Position = vec4(vec3(vertexPosition, 1) * vertexTransform, 0, 1);
}
